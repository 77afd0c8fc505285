#include "tools/vello/FileContent.h"

#include <utility>

#include "builder_package/Scramble.h"

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

std::uint64_t FileContent::size() const {
  return m_stored != nullptr ? static_cast<std::uint64_t>(m_length) : m_bytes.size();
}

const unsigned char* FileContent::Piece(std::size_t at, std::size_t n, unsigned char* scratch) const {
  if (m_stored == nullptr) return m_bytes.data() + at;
  Scramble::ApplyPiece(m_stored + at, scratch, n, m_length, at, m_k);
  return scratch;
}
