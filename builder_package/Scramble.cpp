#include "builder_package/Scramble.h"

#include <cstdint>
#include <cstring>

namespace Scramble {

namespace {

// 33 * 256 is 0 mod 256, so the key stream repeats every 256 bytes: one
// period is built once and applied 8 bytes at a time, which compilers turn
// into vector code of whatever width the target has.
constexpr std::size_t kPeriod = 256;
constexpr std::size_t kWord = sizeof(std::uint64_t);

struct Period {
  std::uint64_t words[kPeriod / kWord];
};

Period MakePeriod(unsigned char first) {
  unsigned char bytes[kPeriod];
  unsigned char mask = first;
  for (std::size_t i = 0; i < kPeriod; ++i, mask = static_cast<unsigned char>(mask + 33))
    bytes[i] = mask;
  Period period;
  std::memcpy(period.words, bytes, kPeriod);
  return period;
}

void ApplyPeriod(const Period& period, const unsigned char* in, unsigned char* out) {
  std::uint64_t words[kPeriod / kWord];
  std::memcpy(words, in, kPeriod);
  for (std::size_t w = 0; w < kPeriod / kWord; ++w) words[w] ^= period.words[w];
  std::memcpy(out, words, kPeriod);
}

}  // namespace

void ApplyPiece(const unsigned char* in, unsigned char* out, std::size_t count, int length,
                std::size_t offset, int k) {
  if (count == 0) return;
  // Only the low 8 bits of L + 33*i + k matter: unsigned arithmetic keeps
  // them without any overflow of the signed sum.
  const unsigned char first = static_cast<unsigned char>(
      static_cast<unsigned>(length) + static_cast<unsigned>(k) + 33u * (offset & 0xFF));
  std::size_t i = 0;
  if (count >= kPeriod) {
    const Period period = MakePeriod(first);
    for (; i + kPeriod <= count; i += kPeriod) ApplyPeriod(period, in + i, out + i);
  }
  // The tail starts a whole number of periods in, so its mask starts again
  // at the first value.
  for (unsigned char mask = first; i < count; ++i, mask = static_cast<unsigned char>(mask + 33))
    out[i] = in[i] ^ mask;
}

void Apply(unsigned char* bytes, int length, int k) {
  if (length <= 0) return;
  ApplyPiece(bytes, bytes, static_cast<std::size_t>(length), length, 0, k);
}

}  // namespace Scramble
