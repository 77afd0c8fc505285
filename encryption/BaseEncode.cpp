#include "encryption/BaseEncode.h"

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

std::size_t Base64Encode(void* dest, const void* src, std::size_t size) {
  CheckPointers(dest, src);
  const std::size_t length = Base64EncodeGetLength(size);
  const auto* in = static_cast<const unsigned char*>(src);
  auto* out = static_cast<char*>(dest);
  std::size_t i = 0;
  for (; i + 3 <= size; i += 3, out += 4) {
    const uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8) | in[i + 2];
    PutPair(out, kBase64Pairs[v >> 12]);
    PutPair(out + 2, kBase64Pairs[v & 0xfff]);
  }
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
