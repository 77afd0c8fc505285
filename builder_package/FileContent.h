#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "system/ByteRun.h"

class CSysFile;

// What is put in one file (an output of extract, a program the saver
// extracts): bytes held in memory or borrowed, a byte run as the package
// stores it (in memory or still in the package file) whose keyless
// scramble is undone a piece at a time on the way out, or a compressed
// item inflated a piece at a time. The last three make no copy of the
// whole: a 64 MiB program costs one pass through a small buffer that the
// write then reads from the cache, and an item's stated size never drives
// an allocation.
class FileContent {
 public:
  static FileContent Held(RunBytes bytes);
  // Held bytes that are secret (a deciphered program): wiped when the last
  // copy of the content goes.
  static FileContent Secret(RunBytes bytes);
  // length >= 0 bytes that stay the caller's and must outlive the content.
  static FileContent Borrowed(const unsigned char* bytes, int length);
  // stored must outlive the content; length >= 0; k is the scramble's
  // constant (Scramble.h).
  static FileContent Descrambled(const unsigned char* stored, int length, int k);
  // The same for length stored bytes at offset of file (which must stay
  // open while the content is used).
  static FileContent DescrambledFromFile(CSysFile& file, long long offset, int length, int k);

  // A compressed item (PackedResource.h): packedSize stored bytes under
  // the scramble k that must inflate to exactly unpackedSize bytes.
  // stored must outlive the content. Pieces come
  // fastest in order.
  static FileContent Inflated(const unsigned char* stored, int packedSize, int unpackedSize, int k);

  std::uint64_t size() const;
  // The n bytes from offset at (at + n <= size()): a pointer into the held
  // bytes, or scratch (n bytes or more) filled with them. Null when they
  // cannot be read from the file: errno says why, or is 0 when the file
  // has become shorter since it was read.
  const unsigned char* Piece(std::size_t at, std::size_t n, unsigned char* scratch) const;
  // Why a read from the package file failed, by errno as Piece leaves it.
  static std::string WhyNotRead();
  // Why the last Piece gave null, as text to follow the file's name.
  std::string Problem() const;

  enum class WriteResult { written, readFailed, writeFailed };
  // Writes the whole content to the descriptor in pieces small enough to
  // stay in the core's cache between being read or descrambled and being
  // written; progress, when set, hears the bytes each write took. On
  // readFailed Problem() says why, on writeFailed errno does.
  WriteResult WriteTo(int fd, const std::function<void(std::uint64_t)>& progress = {}) const;

 private:
  // Shared by the copies of a content, which only read them.
  std::shared_ptr<const RunBytes> m_bytes;
  const unsigned char* m_stored = nullptr;
  CSysFile* m_file = nullptr;
  long long m_offset = 0;
  int m_length = 0;
  int m_k = 0;
  bool m_scrambled = true;  // m_stored holds scrambled bytes (else borrowed plain ones)
  struct Inflater;
  std::shared_ptr<Inflater> m_inflater;  // state of the pieces so far
  mutable std::string m_problem;
};
