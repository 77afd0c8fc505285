#include "encryption/BaseEncode.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace BaseEncode {

const char BASE16_TABLE[] = "0123456789ABCDEF";
const char BASE32_TABLE[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567=";
const char BASE64_TABLE[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

const char c_pszErrorInvalidParameter[] = "Invalid parameter";

namespace {

// Two output characters per table entry: one lookup per 8 bits of Base16
// and per 12 bits of Base64 instead of one per character.
using Pair = std::array<char, 2>;

constexpr std::array<Pair, 256> MakeHexPairs() {
  std::array<Pair, 256> pairs{};
  constexpr char digits[] = "0123456789ABCDEF";
  for (int i = 0; i < 256; ++i) pairs[i] = {digits[i >> 4], digits[i & 15]};
  return pairs;
}

constexpr std::array<Pair, 4096> MakeBase64Pairs() {
  std::array<Pair, 4096> pairs{};
  constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int i = 0; i < 4096; ++i) pairs[i] = {digits[i >> 6], digits[i & 63]};
  return pairs;
}

constexpr std::array<Pair, 256> kHexPairs = MakeHexPairs();
constexpr std::array<Pair, 4096> kBase64Pairs = MakeBase64Pairs();

void CheckPointers(const void* dest, const void* src) {
  if (dest == nullptr || src == nullptr) throw std::runtime_error(c_pszErrorInvalidParameter);
}

std::size_t GroupsLength(std::size_t size, std::size_t input, std::size_t output) {
  const std::size_t groups = size / input + (size % input != 0 ? 1 : 0);
  if (groups > std::numeric_limits<std::size_t>::max() / output)
    throw std::runtime_error(c_pszErrorInvalidParameter);
  return groups * output;
}

inline void PutPair(char* out, const Pair& pair) { std::memcpy(out, pair.data(), 2); }

}  // namespace

std::size_t Base16EncodeGetLength(std::size_t size) {
  return GroupsLength(size, BASE16_INPUT, BASE16_OUTPUT);
}

std::size_t Base32EncodeGetLength(std::size_t size) {
  return GroupsLength(size, BASE32_INPUT, BASE32_OUTPUT);
}

std::size_t Base64EncodeGetLength(std::size_t size) {
  return GroupsLength(size, BASE64_INPUT, BASE64_OUTPUT);
}

std::size_t Base16Encode(void* dest, const void* src, std::size_t size) {
  CheckPointers(dest, src);
  const std::size_t length = Base16EncodeGetLength(size);
  const auto* in = static_cast<const unsigned char*>(src);
  auto* out = static_cast<char*>(dest);
  for (std::size_t i = 0; i < size; ++i, out += 2) PutPair(out, kHexPairs[in[i]]);
  return length;
}

std::size_t Base32Encode(void* dest, const void* src, std::size_t size) {
  CheckPointers(dest, src);
  const std::size_t length = Base32EncodeGetLength(size);
  const auto* in = static_cast<const unsigned char*>(src);
  auto* out = static_cast<char*>(dest);
  // Digits each partial group yields; the rest of its 8 characters are pads.
  static constexpr int kDigitsFor[BASE32_INPUT + 1] = {0, 2, 4, 5, 7, 8};
  for (std::size_t done = 0; done < size; done += BASE32_INPUT, out += BASE32_OUTPUT) {
    const std::size_t take = size - done < BASE32_INPUT ? size - done : BASE32_INPUT;
    uint64_t bits = 0;
    for (std::size_t j = 0; j < BASE32_INPUT; ++j)
      bits = (bits << 8) | (j < take ? in[done + j] : 0u);
    const int digits = kDigitsFor[take];
    for (int j = 0; j < 8; ++j)
      out[j] = j < digits ? BASE32_TABLE[(bits >> (35 - 5 * j)) & 31] : BASE32_TABLE[32];
  }
  return length;
}

namespace {

// Whole 3-byte groups from `in` to `out`, two characters per lookup.
void Base64Groups(char* out, const unsigned char* in, std::size_t groups) {
  for (std::size_t g = 0; g < groups; ++g, in += 3, out += 4) {
    const uint32_t v = (uint32_t(in[0]) << 16) | (uint32_t(in[1]) << 8) | in[2];
    PutPair(out, kBase64Pairs[v >> 12]);
    PutPair(out + 2, kBase64Pairs[v & 0xfff]);
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
// 24 bytes to 32 characters per step in AVX2 registers: bytes are spread
// so each 32-bit lane holds one group, multiplies move the four 6-bit
// fields into their own bytes, and a 16-entry table adds the offset of
// each field's range ('A', 'a', '0', '+', '/'). Returns the groups done;
// it reads 4 bytes past the last group it encodes, so it stops early.
[[gnu::target("avx2")]] std::size_t Base64GroupsAvx2(char* out, const unsigned char* in,
                                                     std::size_t size) {
  const __m256i spread = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10,  //
                                          1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
  const __m256i offsets =
      _mm256_setr_epi8(71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 65, 0, 0,  //
                       71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 65, 0, 0);
  std::size_t done = 0;
  for (; done + 28 <= size; done += 24, out += 32) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done + 12));
    const __m256i v = _mm256_shuffle_epi8(_mm256_setr_m128i(lo, hi), spread);
    const __m256i ac = _mm256_mulhi_epu16(_mm256_and_si256(v, _mm256_set1_epi32(0x0FC0FC00)),
                                          _mm256_set1_epi32(0x04000040));
    const __m256i bd = _mm256_mullo_epi16(_mm256_and_si256(v, _mm256_set1_epi32(0x003F03F0)),
                                          _mm256_set1_epi32(0x01000010));
    const __m256i index = _mm256_or_si256(ac, bd);
    __m256i range = _mm256_subs_epu8(index, _mm256_set1_epi8(51));
    const __m256i upper = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), index);
    range = _mm256_or_si256(range, _mm256_and_si256(upper, _mm256_set1_epi8(13)));
    const __m256i text = _mm256_add_epi8(index, _mm256_shuffle_epi8(offsets, range));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), text);
  }
  return done / 3;
}

bool HostHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
#endif

}  // namespace

std::size_t Base64Encode(void* dest, const void* src, std::size_t size) {
  CheckPointers(dest, src);
  const std::size_t length = Base64EncodeGetLength(size);
  const auto* in = static_cast<const unsigned char*>(src);
  auto* out = static_cast<char*>(dest);
  std::size_t groups = size / 3, done = 0;
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool avx2 = HostHasAvx2();
  if (avx2) done = Base64GroupsAvx2(out, in, size);
#endif
  Base64Groups(out + 4 * done, in + 3 * done, groups - done);
  const std::size_t i = 3 * groups;
  out += 4 * groups;
  if (const std::size_t rest = size - i; rest > 0) {
    const uint32_t v = (uint32_t(in[i]) << 16) | (rest == 2 ? uint32_t(in[i + 1]) << 8 : 0u);
    out[0] = BASE64_TABLE[v >> 18];
    out[1] = BASE64_TABLE[(v >> 12) & 63];
    out[2] = rest == 2 ? BASE64_TABLE[(v >> 6) & 63] : BASE64_TABLE[64];
    out[3] = BASE64_TABLE[64];
  }
  return length;
}

}  // namespace BaseEncode
