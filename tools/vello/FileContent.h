#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "system/ByteRun.h"

// What extract puts in one file: bytes held in memory, or a byte run as
// the package stores it, whose keyless scramble is undone a piece at a
// time on the way out. The second makes no copy of the whole: a 64 MiB
// program costs one pass over the stored bytes into a small buffer that
// the write then reads from the cache.
class FileContent {
 public:
  static FileContent Held(RunBytes bytes);
  // stored must outlive the content; length >= 0; k is the scramble's
  // constant (Scramble.h).
  static FileContent Descrambled(const unsigned char* stored, int length, int k);

  std::uint64_t size() const;
  // The n bytes from offset at (at + n <= size()): a pointer into the held
  // bytes, or scratch (n bytes or more) filled with them.
  const unsigned char* Piece(std::size_t at, std::size_t n, unsigned char* scratch) const;

 private:
  RunBytes m_bytes;
  const unsigned char* m_stored = nullptr;
  int m_length = 0;
  int m_k = 0;
};
