#pragma once

// glibc's iconv as an independent peer for the Unicode conversions.

#include <iconv.h>

#include <gtest/gtest.h>

#include <bit>
#include <string>

// What iconv converts of input before its first complaint.
inline std::string Iconv(const char* to, const char* from, const std::string& input) {
  const iconv_t cd = iconv_open(to, from);
  EXPECT_NE(reinterpret_cast<iconv_t>(-1), cd);
  std::string out(input.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(input.data());
  size_t inLeft = input.size();
  char* dst = out.data();
  size_t outLeft = out.size();
  iconv(cd, &in, &inLeft, &dst, &outLeft);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

// Host-order encodings as iconv names them (glibc's "WCHAR_T" would accept
// values above U+10FFFF).
const char* const kWide = std::endian::native == std::endian::little ? "UTF-32LE" : "UTF-32BE";
const char* const kUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

template <typename Units>
std::string AsBytes(const Units& units) {
  return std::string(reinterpret_cast<const char*>(units.data()), units.size() * sizeof(units[0]));
}
