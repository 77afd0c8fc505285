#pragma once

// glibc's iconv as an independent peer for the Unicode conversions.

#include <iconv.h>

#include <gtest/gtest.h>

#include <bit>
#include <string>

struct IconvResult {
  std::string out;  // what it converted before its first complaint
  size_t consumed;  // input bytes it took
};

// One conversion direction, opened once and reused.
class IconvPeer {
 public:
  IconvPeer(const char* to, const char* from) : m_cd(iconv_open(to, from)) {
    EXPECT_NE(reinterpret_cast<iconv_t>(-1), m_cd);
  }
  ~IconvPeer() { iconv_close(m_cd); }
  IconvPeer(const IconvPeer&) = delete;
  IconvPeer& operator=(const IconvPeer&) = delete;

  IconvResult operator()(const std::string& input) const {
    iconv(m_cd, nullptr, nullptr, nullptr, nullptr);  // fresh state
    std::string out(input.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char* dst = out.data();
    size_t outLeft = out.size();
    iconv(m_cd, &in, &inLeft, &dst, &outLeft);
    out.resize(out.size() - outLeft);
    return {out, input.size() - inLeft};
  }

 private:
  iconv_t m_cd;
};

inline std::string Iconv(const char* to, const char* from, const std::string& input) {
  return IconvPeer(to, from)(input).out;
}

// Host-order encodings as iconv names them (glibc's "WCHAR_T" would accept
// values above U+10FFFF).
const char* const kWide = std::endian::native == std::endian::little ? "UTF-32LE" : "UTF-32BE";
const char* const kUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

template <typename Unit>
std::string AsBytes(const std::basic_string<Unit>& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(Unit));
}
