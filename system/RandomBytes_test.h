#pragma once

// Reproducible bytes that do not compress, for test inputs.

#include <cstddef>
#include <cstdint>
#include <vector>

// n bytes of a xorshift stream started from seed.
inline std::vector<unsigned char> RandomBytes(std::size_t n, std::uint32_t seed) {
  std::vector<unsigned char> bytes(n);
  for (auto& b : bytes) {
    seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
    b = static_cast<unsigned char>(seed);
  }
  return bytes;
}
