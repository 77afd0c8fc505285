#pragma once

// glibc's iconv as an independent UTF-8 peer for the conversion tests.

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

namespace VelloTest {

struct IconvResult {
  std::string bytes;  // what was converted before the first failure
  bool complete;      // the whole input converted
};

inline IconvResult IconvConvert(const char* to, const char* from, const std::string& input) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return {std::string(), false};
  std::string out(input.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(input.data());
  size_t inLeft = input.size();
  char* dst = out.data();
  size_t outLeft = out.size();
  const size_t rc = iconv(cd, &in, &inLeft, &dst, &outLeft);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return {out, rc != static_cast<size_t>(-1) && inLeft == 0};
}

// Code points as UTF-32LE bytes, independent of the host order.
inline std::string Utf32LeBytes(const std::vector<uint32_t>& points) {
  std::string bytes;
  bytes.reserve(points.size() * 4);
  for (uint32_t cp : points)
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((cp >> (8 * i)) & 0xFF));
  return bytes;
}

inline std::vector<uint32_t> FromUtf32LeBytes(const std::string& bytes) {
  std::vector<uint32_t> points;
  for (size_t at = 0; at + 4 <= bytes.size(); at += 4) {
    uint32_t cp = 0;
    for (int i = 3; i >= 0; --i) cp = (cp << 8) | static_cast<unsigned char>(bytes[at + i]);
    points.push_back(cp);
  }
  return points;
}

// Every Unicode scalar value from U+0001 (U+0000 is dropped by the
// wide-string helpers), surrogates excluded.
inline std::vector<uint32_t> AllScalarValuesFromOne() {
  std::vector<uint32_t> points;
  points.reserve(0x10FFFF - 2048);
  for (uint32_t cp = 1; cp <= 0x10FFFF; ++cp)
    if (cp < 0xD800 || cp > 0xDFFF) points.push_back(cp);
  return points;
}

}  // namespace VelloTest
