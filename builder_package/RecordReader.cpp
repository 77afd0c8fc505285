#include "builder_package/RecordReader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "system/SysFile.h"
#include "system/SysStringHelper.h"

namespace {

constexpr char kCutShort[] = "cut short";
// Runs on streams that cannot tell their size grow by this much at a time.
constexpr int kUnsizedPiece = 1 << 20;

}  // namespace

bool RecordReader::Fail(const char* field, const std::string& problem) {
  m_failure.offset = m_file.IsOpen() ? m_file.Seek(0, CSysFile::VELLO_SEEK_CURRENT) : -1;
  m_failure.record = m_record;
  m_failure.field = field;
  m_failure.problem = problem;
  return false;
}

bool RecordReader::FailWithin(const std::string& record, const ReadFailure& inner) {
  if (!inner.failed()) {
    Fail("", "record failed");
    m_failure.record = record;
    return false;
  }
  m_failure = inner;
  m_failure.record = record;
  return false;
}

bool RecordReader::Int(const char* field, int& value) {
  return m_file.ReadInt(value) || Fail(field, kCutShort);
}

bool RecordReader::UInt(const char* field, unsigned int& value) {
  return m_file.ReadUInt(value) || Fail(field, kCutShort);
}

bool RecordReader::Bool(const char* field, bool& value) {
  return m_file.ReadBool(value) || Fail(field, kCutShort);
}

bool RecordReader::Text(const char* field, std::wstring& value) {
  // The string record of CSysFile (scrambled), read through Run so that a
  // length beyond the bytes left is refused, and named, before allocating.
  int length = 0;
  if (!Int(field, length)) return false;
  if (length <= 0) {
    value.clear();  // an empty stored text replaces the field's default
    return true;
  }
  ByteRun bytes;
  if (!Run(field, length, bytes)) return false;
  CSysFile::ScrambleStringBytes(bytes.get(), static_cast<size_t>(length));
  std::string utf8(reinterpret_cast<const char*>(bytes.get()), static_cast<size_t>(length));
  // The text ends at the first zero byte, if one is stored.
  if (const size_t zero = utf8.find('\0'); zero != std::string::npos) utf8.resize(zero);
  // Decoding stops at the first sequence that is not UTF-8, as the string
  // record does: such text reads cut short, it does not fail the read.
  value = CSysStringHelper::GetSingleton().FromUTF8(utf8);
  return true;
}

bool RecordReader::Size(const char* field, int& size) {
  int stored = 0;
  if (!Int(field, stored)) return false;
  if (stored < 0) return Fail(field, "length " + std::to_string(stored) + " is negative");
  size = stored;
  return true;
}

bool RecordReader::Count(const char* field, int& count) {
  int stored = 0;
  if (!Int(field, stored)) return false;
  if (stored <= 0) {
    count = 0;
    return true;
  }
  const long long remaining = m_file.Remaining();
  if (remaining >= 0 && stored > remaining)
    return Fail(field, "count " + std::to_string(stored) + " exceeds the " +
                           std::to_string(remaining) + " bytes left");
  count = stored;
  return true;
}

bool RecordReader::Run(const char* field, int size, ByteRun& bytes) {
  const long long remaining = m_file.Remaining();
  if (remaining >= 0 && size > remaining)
    return Fail(field, "length " + std::to_string(size) + " exceeds the " +
                           std::to_string(remaining) + " bytes left");
  if (remaining >= 0) {
    ByteRun run = NewByteRun(static_cast<size_t>(size));
    if (m_file.Read(run.get(), size) != size) return Fail(field, kCutShort);
    bytes = std::move(run);
    return true;
  }
  std::vector<unsigned char> pieces;
  while (static_cast<int>(pieces.size()) < size) {
    const int old = static_cast<int>(pieces.size());
    const int piece = std::min(kUnsizedPiece, size - old);
    pieces.resize(static_cast<size_t>(old + piece));
    if (m_file.Read(pieces.data() + old, piece) != piece) return Fail(field, kCutShort);
  }
  ByteRun run = NewByteRun(static_cast<size_t>(size));
  if (size > 0) std::memcpy(run.get(), pieces.data(), static_cast<size_t>(size));
  bytes = std::move(run);
  return true;
}

bool RecordReader::Place(const char* field, int size, long long& offset) {
  const long long remaining = m_file.Remaining();
  if (remaining >= 0 && size > remaining)
    return Fail(field, "length " + std::to_string(size) + " exceeds the " +
                           std::to_string(remaining) + " bytes left");
  const long long at = m_file.Tell();
  if (remaining < 0 || at < 0 || !m_file.Skip(size)) return Fail(field, "the file cannot seek past it");
  offset = at;
  return true;
}

bool RecordReader::SizedRun(const char* field, int& size, ByteRun& bytes) {
  int stored = 0;
  if (!Size(field, stored)) return false;
  ByteRun run;
  if (stored > 0 && !Run(field, stored, run)) return false;
  size = stored;
  bytes = std::move(run);
  return true;
}
