#pragma once

// A strict reader for uncompressed SWF files, written from the file
// format's published layout to check the generator: the header, and a walk
// over the tags that must end with an End tag at the last byte.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct SwfTag {
  int code;
  std::vector<unsigned char> body;
};

struct SwfFile {
  int version = 0;
  int frameCount = 0;
  std::vector<SwfTag> tags;
};

// An error names what is wrong.
inline std::optional<SwfFile> ReadSwf(const std::vector<unsigned char>& bytes, std::string& error) {
  auto little = [&bytes](size_t at, int count) {
    std::uint32_t v = 0;
    for (int i = 0; i < count; ++i) v |= std::uint32_t{bytes[at + i]} << (8 * i);
    return v;
  };
  if (bytes.size() < 9 || bytes[0] != 'F' || bytes[1] != 'W' || bytes[2] != 'S') {
    error = "no uncompressed SWF signature";
    return std::nullopt;
  }
  if (little(4, 4) != bytes.size()) {
    error = "header length " + std::to_string(little(4, 4)) + " for a file of " +
            std::to_string(bytes.size()) + " bytes";
    return std::nullopt;
  }
  // The frame RECT: 5 bits giving the field width, four fields, padding.
  size_t at = 8 + (5 + 4 * (bytes[8] >> 3) + 7) / 8;
  if (at + 4 > bytes.size()) {
    error = "header runs past the end";
    return std::nullopt;
  }
  SwfFile swf;
  swf.version = bytes[3];
  swf.frameCount = static_cast<int>(little(at + 2, 2));  // after the frame rate
  at += 4;
  while (at + 2 <= bytes.size() && (swf.tags.empty() || swf.tags.back().code != 0)) {
    const std::uint32_t head = little(at, 2);
    std::uint32_t length = head & 0x3f;
    at += 2;
    if (length == 0x3f) {  // long form: the length follows
      length = at + 4 <= bytes.size() ? little(at, 4) : UINT32_MAX;
      at += 4;
    }
    if (at > bytes.size() || length > bytes.size() - at) {
      error = "tag " + std::to_string(head >> 6) + " runs past the end";
      return std::nullopt;
    }
    const auto body = bytes.begin() + static_cast<std::ptrdiff_t>(at);
    swf.tags.push_back({static_cast<int>(head >> 6), {body, body + length}});
    at += length;
  }
  if (at != bytes.size() || swf.tags.empty() || swf.tags.back().code != 0) {
    error = "the tags do not end with an End tag at the end of the file";
    return std::nullopt;
  }
  return swf;
}
