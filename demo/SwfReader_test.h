#pragma once

// A strict reader for the parts of uncompressed SWF files the demo uses,
// written from the file format's published layout to check the generator.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct SwfRect {
  int bits, xMin, xMax, yMin, yMax;
};

struct SwfTag {
  int code;
  std::vector<unsigned char> body;
};

struct SwfFile {
  int version = 0;
  std::uint32_t length = 0;
  SwfRect frameSize{};
  double frameRate = 0;
  int frameCount = 0;
  std::vector<SwfTag> tags;
};

class SwfBitReader {
 public:
  SwfBitReader(const unsigned char* data, size_t size) : m_data(data), m_size(size) {}

  bool ok() const { return m_ok; }
  size_t bytePosition() const { return m_bit / 8; }
  bool atEnd() const { return m_bit == m_size * 8; }

  std::uint32_t Unsigned(int bits) {
    std::uint32_t v = 0;
    for (int i = 0; i < bits; ++i) v = v << 1 | Bit();
    return v;
  }
  std::int32_t Signed(int bits) {
    if (bits == 0) return 0;
    std::uint32_t v = Unsigned(bits);
    if (v & (1u << (bits - 1))) v |= ~((1u << (bits - 1)) - 1) << 1;  // sign-extend
    return static_cast<std::int32_t>(v);
  }
  void Align() { m_bit = (m_bit + 7) / 8 * 8; }
  std::uint32_t Little(int bytes) {
    Align();
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= Unsigned(8) << (8 * i);
    return v;
  }
  SwfRect Rect() {
    SwfRect r{};
    Align();
    r.bits = static_cast<int>(Unsigned(5));
    r.xMin = Signed(r.bits);
    r.xMax = Signed(r.bits);
    r.yMin = Signed(r.bits);
    r.yMax = Signed(r.bits);
    Align();
    return r;
  }

 private:
  std::uint32_t Bit() {
    if (m_bit >= m_size * 8) {
      m_ok = false;
      return 0;
    }
    const std::uint32_t b = (m_data[m_bit / 8] >> (7 - m_bit % 8)) & 1u;
    ++m_bit;
    return b;
  }

  const unsigned char* m_data;
  size_t m_size;
  size_t m_bit = 0;
  bool m_ok = true;
};

// Header and tag list; an error names what is wrong.
inline std::optional<SwfFile> ReadSwf(const std::vector<unsigned char>& bytes, std::string& error) {
  if (bytes.size() < 8 || bytes[0] != 'F' || bytes[1] != 'W' || bytes[2] != 'S') {
    error = "no uncompressed SWF signature";
    return std::nullopt;
  }
  SwfFile swf;
  swf.version = bytes[3];
  SwfBitReader r(bytes.data(), bytes.size());
  r.Little(4);
  swf.length = r.Little(4);
  if (swf.length != bytes.size()) {
    error = "header length " + std::to_string(swf.length) + " for a file of " +
            std::to_string(bytes.size()) + " bytes";
    return std::nullopt;
  }
  swf.frameSize = r.Rect();
  swf.frameRate = r.Little(2) / 256.0;
  swf.frameCount = static_cast<int>(r.Little(2));
  while (r.ok() && !r.atEnd()) {
    const std::uint32_t head = r.Little(2);
    SwfTag tag{static_cast<int>(head >> 6), {}};
    std::uint32_t length = head & 0x3f;
    if (length == 0x3f) length = r.Little(4);
    const size_t start = r.bytePosition();
    if (!r.ok() || length > bytes.size() - start) {
      error = "tag " + std::to_string(tag.code) + " runs past the end";
      return std::nullopt;
    }
    tag.body.assign(bytes.begin() + start, bytes.begin() + start + length);
    for (std::uint32_t i = 0; i < length; ++i) r.Unsigned(8);
    swf.tags.push_back(std::move(tag));
    if (swf.tags.back().code == 0) break;
  }
  if (!r.ok() || !r.atEnd() || swf.tags.empty() || swf.tags.back().code != 0) {
    error = "the tags do not end with an End tag at the end of the file";
    return std::nullopt;
  }
  return swf;
}
