#include "builder_package/FileContent.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "builder_package/Scramble.h"
#include "system/SysFile.h"

FileContent FileContent::Held(RunBytes bytes) {
  FileContent content;
  content.m_bytes = std::move(bytes);
  return content;
}

FileContent FileContent::Borrowed(const unsigned char* bytes, int length) {
  FileContent content;
  content.m_stored = bytes;
  content.m_length = length;
  content.m_scrambled = false;
  return content;
}

FileContent FileContent::Descrambled(const unsigned char* stored, int length, int k) {
  FileContent content;
  content.m_stored = stored;
  content.m_length = length;
  content.m_k = k;
  return content;
}

FileContent FileContent::DescrambledFromFile(CSysFile& file, long long offset, int length, int k) {
  FileContent content;
  content.m_file = &file;
  content.m_offset = offset;
  content.m_length = length;
  content.m_k = k;
  return content;
}

std::string FileContent::WhyNotRead() {
  return errno != 0 ? std::strerror(errno) : "the package file is shorter than when it was read";
}

std::uint64_t FileContent::size() const {
  return m_stored != nullptr || m_file != nullptr ? static_cast<std::uint64_t>(m_length) : m_bytes.size();
}

const unsigned char* FileContent::Piece(std::size_t at, std::size_t n, unsigned char* scratch) const {
  if (m_file != nullptr) {
    const int count = static_cast<int>(n);
    const int got = m_file->ReadAt(m_offset + static_cast<long long>(at), scratch, count);
    if (got != count) {
      if (got >= 0) errno = 0;  // the file ends early
      return nullptr;
    }
    Scramble::ApplyPiece(scratch, scratch, n, m_length, at, m_k);
    return scratch;
  }
  if (m_stored == nullptr) return m_bytes.data() + at;
  if (!m_scrambled) return m_stored + at;
  Scramble::ApplyPiece(m_stored + at, scratch, n, m_length, at, m_k);
  return scratch;
}

FileContent::WriteResult FileContent::WriteTo(int fd, const std::function<void(std::uint64_t)>& progress) const {
  constexpr std::size_t kChunk = 256 * 1024;
  const std::size_t total = static_cast<std::size_t>(size());
  const std::unique_ptr<unsigned char[]> scratch(new unsigned char[std::max<std::size_t>(1, std::min(kChunk, total))]);
  for (std::size_t done = 0; done < total;) {
    const std::size_t n = std::min(kChunk, total - done);
    const unsigned char* piece = Piece(done, n, scratch.get());
    if (piece == nullptr) return WriteResult::readFailed;
    const ssize_t wrote = write(fd, piece, n);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      if (wrote == 0) errno = EIO;
      return WriteResult::writeFailed;
    }
    done += static_cast<std::size_t>(wrote);
    if (progress) progress(static_cast<std::uint64_t>(wrote));
  }
  return WriteResult::written;
}
