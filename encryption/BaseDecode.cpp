#include "encryption/BaseDecode.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace BaseDecode {

const char c_pszErrorInvalidParameter[] = "Invalid parameter";
const char c_pszErrorNotMultipleOf2[] = "Invalid source, size is not a multiple of 2";
const char c_pszErrorNotMultipleOf4[] = "Invalid source, size is not a multiple of 4";
const char c_pszErrorNotMultipleOf8[] = "Invalid source, size is not a multiple of 8";

const unsigned char BASE16_TABLE[128] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
};

const unsigned char BASE32_TABLE[128] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x20, 0xFF, 0xFF,
    0xFF, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
    0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
    0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
};

const unsigned char BASE64_TABLE[128] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x3E, 0xFF, 0xFF, 0xFF, 0x3F,
    0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0xFF, 0xFF, 0xFF, 0x40, 0xFF, 0xFF,
    0xFF, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
    0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28,
    0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F, 0x30, 0x31, 0x32, 0x33, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
};

namespace {

const char kErrorBase16Character[] = "Invalid source, character outside the Base16 alphabet";
const char kErrorBase32Character[] = "Invalid source, character outside the Base32 alphabet";
const char kErrorBase64Character[] = "Invalid source, character outside the Base64 alphabet";
const char kErrorPadding[] = "Invalid source, misplaced padding";

constexpr unsigned char kInvalid = 0xFF;

// Value of a character through a 128-entry table; anything at or above
// 128 is outside every alphabet.
inline unsigned char Lookup(const unsigned char (&table)[128], unsigned char c) {
  return c < 128 ? table[c] : kInvalid;
}

// Clears what a refused decode already wrote, then reports why.
[[noreturn]] void Refuse(void* dest, std::size_t written, const char* why) {
  std::memset(dest, 0, written);
  throw std::runtime_error(why);
}

void CheckPointers(const void* dest, const void* src) {
  if (dest == nullptr || src == nullptr) throw std::runtime_error(c_pszErrorInvalidParameter);
}

// Base64 fast path: four 256-entry tables hold each position's digit
// already shifted into place; anything that is not a digit (the pad
// included) sets a high bit, so one test guards a whole group.
constexpr uint32_t kBad = 0xFF000000u;

constexpr std::array<std::array<uint32_t, 256>, 4> MakeBase64Shifted() {
  constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::array<std::array<uint32_t, 256>, 4> t{};
  for (auto& row : t) row.fill(kBad);
  for (uint32_t v = 0; v < 64; ++v)
    for (int pos = 0; pos < 4; ++pos)
      t[pos][static_cast<unsigned char>(digits[v])] = v << (18 - 6 * pos);
  return t;
}

constexpr auto kBase64Shifted = MakeBase64Shifted();

inline void StoreBE24(unsigned char* out, uint32_t v) {
  out[0] = static_cast<unsigned char>(v >> 16);
  out[1] = static_cast<unsigned char>(v >> 8);
  out[2] = static_cast<unsigned char>(v);
}

}  // namespace

std::size_t Base16DecodeGetLength(std::size_t size) {
  if (size % BASE16_INPUT != 0) throw std::runtime_error(c_pszErrorNotMultipleOf2);
  return size / BASE16_INPUT * BASE16_OUTPUT;
}

std::size_t Base32DecodeGetLength(std::size_t size) {
  if (size % BASE32_INPUT != 0) throw std::runtime_error(c_pszErrorNotMultipleOf8);
  return size / BASE32_INPUT * BASE32_OUTPUT;
}

std::size_t Base64DecodeGetLength(std::size_t size) {
  if (size % BASE64_INPUT != 0) throw std::runtime_error(c_pszErrorNotMultipleOf4);
  return size / BASE64_INPUT * BASE64_OUTPUT;
}

std::size_t Base16Decode(void* dest, const void* src, std::size_t size) {
  CheckPointers(dest, src);
  const std::size_t length = Base16DecodeGetLength(size);
  const auto* in = static_cast<const unsigned char*>(src);
  auto* out = static_cast<unsigned char*>(dest);
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char hi = Lookup(BASE16_TABLE, in[2 * i]);
    const unsigned char lo = Lookup(BASE16_TABLE, in[2 * i + 1]);
    if ((hi | lo) > 15) Refuse(dest, i, kErrorBase16Character);  // either is kInvalid
    out[i] = static_cast<unsigned char>((hi << 4) | lo);
  }
  return length;
}

std::size_t Base32Decode(void* dest, const void* src, std::size_t size) {
  CheckPointers(dest, src);
  Base32DecodeGetLength(size);
  const auto* in = static_cast<const unsigned char*>(src);
  auto* out = static_cast<unsigned char*>(dest);
  // Bytes a group carries for each count of trailing pads; 0 marks a run
  // that canonical text never has.
  static constexpr std::size_t kBytesForPads[9] = {5, 4, 0, 3, 2, 0, 1, 0, 0};
  const std::size_t groups = size / BASE32_INPUT;
  std::size_t count = 0;
  for (std::size_t g = 0; g < groups; ++g, in += BASE32_INPUT, out += BASE32_OUTPUT) {
    uint64_t bits = 0;
    int pads = 0;
    for (std::size_t j = 0; j < BASE32_INPUT; ++j) {
      const unsigned char v = Lookup(BASE32_TABLE, in[j]);
      if (v == kInvalid) Refuse(dest, g * BASE32_OUTPUT, kErrorBase32Character);
      if (v == 32) {
        ++pads;
      } else if (pads > 0) {
        Refuse(dest, g * BASE32_OUTPUT, kErrorPadding);  // a digit after a pad
      }
      bits = (bits << 5) | (v & 31u);
    }
    const std::size_t bytes = kBytesForPads[pads];
    if (bytes == 0 || (pads > 0 && g + 1 != groups)) Refuse(dest, g * BASE32_OUTPUT, kErrorPadding);
    for (int j = 0; j < 5; ++j) out[j] = static_cast<unsigned char>(bits >> (32 - 8 * j));
    count += bytes;
  }
  return count;
}

std::size_t Base64Decode(void* dest, const void* src, std::size_t size) {
  CheckPointers(dest, src);
  Base64DecodeGetLength(size);
  if (size == 0) return 0;
  const auto* in = static_cast<const unsigned char*>(src);
  auto* out = static_cast<unsigned char*>(dest);
  const std::size_t groups = size / BASE64_INPUT;
  // Every group but the last holds four digits.
  for (std::size_t g = 0; g + 1 < groups; ++g, in += 4, out += 3) {
    const uint32_t v = kBase64Shifted[0][in[0]] | kBase64Shifted[1][in[1]] |
                       kBase64Shifted[2][in[2]] | kBase64Shifted[3][in[3]];
    if (v & kBad) {
      const bool pad = in[0] == '=' || in[1] == '=' || in[2] == '=' || in[3] == '=';
      Refuse(dest, g * 3, pad ? kErrorPadding : kErrorBase64Character);
    }
    StoreBE24(out, v);
  }
  // The last group: digits, then at most two pads in the last positions.
  const std::size_t written = (groups - 1) * 3;
  unsigned char v[4];
  for (int j = 0; j < 4; ++j) {
    v[j] = Lookup(BASE64_TABLE, in[j]);
    if (v[j] == kInvalid) Refuse(dest, written, kErrorBase64Character);
  }
  std::size_t bytes = 3;
  if (v[0] == 64 || v[1] == 64) Refuse(dest, written, kErrorPadding);
  if (v[2] == 64) {
    if (v[3] != 64) Refuse(dest, written, kErrorPadding);
    bytes = 1;
  } else if (v[3] == 64) {
    bytes = 2;
  }
  const uint32_t bits = (uint32_t(v[0] & 63) << 18) | (uint32_t(v[1] & 63) << 12) |
                        (uint32_t(v[2] & 63) << 6) | uint32_t(v[3] & 63);
  StoreBE24(out, bits);
  return written + bytes;
}

}  // namespace BaseDecode
