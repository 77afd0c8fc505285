#include "tools/vello/FileContent.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "builder_package/Scramble.h"
#include "system/SysFile.h"

FileContent FileContent::Held(RunBytes bytes) {
  FileContent content;
  content.m_bytes = std::move(bytes);
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
  Scramble::ApplyPiece(m_stored + at, scratch, n, m_length, at, m_k);
  return scratch;
}
