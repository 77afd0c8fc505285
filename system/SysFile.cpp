#include "system/SysFile.h"

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <memory>

#include "system/Assert.h"
#include "system/ByteRun.h"
#include "system/SysEndian.h"
#include "system/SysStringHelper.h"

namespace {

constexpr size_t kBlock = 512;

// Mask of byte j in a block of n bytes of the string record.
constexpr unsigned char BlockMask(size_t j, size_t n) {
  return static_cast<unsigned char>((33 * j + n + 146) & 0xFF);
}

constexpr std::array<unsigned char, kBlock> MakeFullBlockMask() {
  std::array<unsigned char, kBlock> mask{};
  for (size_t j = 0; j < kBlock; ++j) mask[j] = BlockMask(j, kBlock);
  return mask;
}

constexpr auto kFullBlockMask = MakeFullBlockMask();

void MaskBlock(unsigned char* bytes, size_t n) {
  if (n == kBlock) {
    for (size_t j = 0; j < kBlock; ++j) bytes[j] ^= kFullBlockMask[j];
  } else {
    for (size_t j = 0; j < n; ++j) bytes[j] ^= BlockMask(j, n);
  }
}

// When the stream cannot tell how much is left, a string record is read in
// pieces of this size, so a damaged count costs no more memory than the
// bytes that really arrive.
constexpr size_t kUnsizedPiece = 64 * 1024;

}  // namespace

CSysFile::CSysFile() : m_fp(nullptr), m_bOwnsHandle(true), m_end(-1) {}

CSysFile::CSysFile(FILE* fp) : m_fp(fp), m_bOwnsHandle(false), m_end(-1) {}

CSysFile::~CSysFile() { Close(); }

void CSysFile::OpenFromHandle(FILE* fp) {
  // A handle this stream opened itself has no other owner: close it rather
  // than leak it. An adopted one is only forgotten.
  Close();
  m_fp = fp;
  m_bOwnsHandle = false;
}

bool CSysFile::Open(const std::wstring& path, const std::wstring& mode) {
  Close();
  m_bOwnsHandle = true;
  // A name that does not convert whole, or holds U+0000, would open some
  // other file than the one asked for.
  if (path.find(L'\0') != std::wstring::npos || mode.find(L'\0') != std::wstring::npos)
    return false;
  CSysStringHelper& helper = CSysStringHelper::GetSingleton();
  std::string nativePath;
  std::string nativeMode;
  if (!helper.NativeToUTF8(path, nativePath) || !helper.NativeToUTF8(mode, nativeMode))
    return false;
  m_fp = std::fopen(nativePath.c_str(), nativeMode.c_str());
  return m_fp != nullptr;
}

void CSysFile::Close() {
  if (m_fp != nullptr && m_bOwnsHandle) std::fclose(m_fp);
  m_fp = nullptr;
  m_bOwnsHandle = true;
  m_end = -1;
}

int CSysFile::Seek(int offset, SEEK_FLAGS origin) {
  VELLO_ASSERT(origin == VELLO_SEEK_START || origin == VELLO_SEEK_CURRENT || origin == VELLO_SEEK_END);
  VELLO_ASSERT(m_fp != NULL);
  if (fseeko(m_fp, offset, origin) != 0) return -1;
  const off_t position = ftello(m_fp);
  // A position that an int cannot hold is reported as a failure rather
  // than as a wrong, truncated position.
  if (position < 0 || position > INT_MAX) return -1;
  return static_cast<int>(position);
}

int CSysFile::Read(void* pv, int n) {
  VELLO_ASSERT(m_fp != NULL);
  VELLO_ASSERT(pv != NULL);
  if (n <= 0) return 0;
  return static_cast<int>(std::fread(pv, 1, static_cast<size_t>(n), m_fp));
}

int CSysFile::Write(const void* pv, int n) {
  VELLO_ASSERT(m_fp != NULL);
  VELLO_ASSERT(pv != NULL);
  if (n <= 0) return 0;
  m_end = -1;  // the file may have grown
  return static_cast<int>(std::fwrite(pv, 1, static_cast<size_t>(n), m_fp));
}

long long CSysFile::Remaining() {
  VELLO_ASSERT(m_fp != NULL);
  const off_t current = ftello(m_fp);
  if (current < 0) return -1;
  if (m_end < 0) {
    // Seeking to the end drops the stream's read buffer: done once, not
    // for every record.
    if (fseeko(m_fp, 0, SEEK_END) != 0) return -1;
    const off_t end = ftello(m_fp);
    if (fseeko(m_fp, current, SEEK_SET) != 0 || end < 0) return -1;
    m_end = end;
  }
  return m_end > current ? m_end - static_cast<long long>(current) : 0;
}

long long CSysFile::Tell() {
  VELLO_ASSERT(m_fp != NULL);
  const off_t position = ftello(m_fp);
  return position < 0 ? -1 : static_cast<long long>(position);
}

bool CSysFile::Skip(long long n) {
  VELLO_ASSERT(m_fp != NULL);
  VELLO_ASSERT(n >= 0);
  return fseeko(m_fp, static_cast<off_t>(n), SEEK_CUR) == 0;
}

bool CSysFile::CanReadAt() const {
  VELLO_ASSERT(m_fp != NULL);
  const int fd = fileno(m_fp);
  return fd >= 0 && lseek(fd, 0, SEEK_CUR) >= 0;
}

int CSysFile::ReadAt(long long offset, void* buffer, int n) {
  VELLO_ASSERT(m_fp != NULL);
  VELLO_ASSERT(buffer != NULL);
  if (n <= 0) return 0;
  const int fd = fileno(m_fp);
  if (fd < 0 || offset < 0) {
    errno = EINVAL;
    return -1;
  }
  auto* bytes = static_cast<unsigned char*>(buffer);
  int done = 0;
  // pread may stop short of n before the end (signals, large counts).
  while (done < n) {
    const ssize_t got = pread(fd, bytes + done, static_cast<size_t>(n - done), static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<int>(got);
  }
  return done;
}

bool CSysFile::Flush() {
  VELLO_ASSERT(m_fp != NULL);
  return std::fflush(m_fp) == 0;
}

bool CSysFile::Failed() const {
  VELLO_ASSERT(m_fp != NULL);
  return std::ferror(m_fp) != 0;
}

bool CSysFile::WriteInt(const int& value) {
  const int little = CSysEndian::GetSingleton().NativeIntToLittle(value);
  return Write(&little, sizeof little) == sizeof little;
}

bool CSysFile::WriteUInt(const unsigned int& value) {
  const unsigned int little = CSysEndian::GetSingleton().NativeUIntToLittle(value);
  return Write(&little, sizeof little) == sizeof little;
}

bool CSysFile::WriteShort(const short& value) {
  const short little = CSysEndian::GetSingleton().NativeShortToLittle(value);
  return Write(&little, sizeof little) == sizeof little;
}

bool CSysFile::WriteChar(const char& value) { return Write(&value, 1) == 1; }

bool CSysFile::WriteBool(const bool& value) { return WriteInt(value ? 1 : 0); }

// The typed readers change their destination only when every byte arrived.
bool CSysFile::ReadInt(int& value) {
  int little;
  if (Read(&little, sizeof little) != sizeof little) return false;
  value = CSysEndian::GetSingleton().LittleIntToNative(little);
  return true;
}

bool CSysFile::ReadUInt(unsigned int& value) {
  unsigned int little;
  if (Read(&little, sizeof little) != sizeof little) return false;
  value = CSysEndian::GetSingleton().LittleUIntToNative(little);
  return true;
}

bool CSysFile::ReadShort(short& value) {
  short little;
  if (Read(&little, sizeof little) != sizeof little) return false;
  value = CSysEndian::GetSingleton().LittleShortToNative(little);
  return true;
}

bool CSysFile::ReadChar(char& value) {
  char byte;
  if (Read(&byte, 1) != 1) return false;
  value = byte;
  return true;
}

bool CSysFile::ReadBool(bool& value) {
  unsigned int stored;
  if (!ReadUInt(stored)) return false;
  value = stored == 1;  // only a stored 1 is true
  return true;
}

void CSysFile::ScrambleStringBytes(unsigned char* bytes, size_t length) {
  const size_t full = length / kBlock * kBlock;
  for (size_t at = 0; at < full; at += kBlock) MaskBlock(bytes + at, kBlock);
  if (length > full) MaskBlock(bytes + full, length - full);
}

bool CSysFile::WriteString(const std::wstring& text, bool scramble) {
  std::string utf8;
  if (!CSysStringHelper::GetSingleton().NativeToUTF8(text, utf8)) return false;
  if (utf8.size() > static_cast<size_t>(INT_MAX)) return false;  // L would not fit
  if (!WriteInt(static_cast<int>(utf8.size()))) return false;
  unsigned char work[kBlock];
  for (size_t at = 0; at < utf8.size(); at += kBlock) {
    const size_t n = std::min(kBlock, utf8.size() - at);
    std::copy_n(utf8.data() + at, n, reinterpret_cast<char*>(work));
    if (scramble) MaskBlock(work, n);
    if (Write(work, static_cast<int>(n)) != static_cast<int>(n)) return false;
  }
  return true;
}

bool CSysFile::ReadString(std::wstring& text, bool scramble) {
  int length;
  if (!ReadInt(length)) return false;
  if (length <= 0) return true;
  const size_t wanted = static_cast<size_t>(length);
  std::string bytes;
  const long long remaining = Remaining();
  if (remaining >= 0) {
    // A count beyond the end of the file is damage: refuse it before
    // allocating for it.
    if (static_cast<long long>(wanted) > remaining) return false;
    bytes.resize(wanted);
    if (Read(bytes.data(), length) != length) return false;
  } else {
    while (bytes.size() < wanted) {
      const size_t old = bytes.size();
      const size_t piece = std::min(kUnsizedPiece, wanted - old);
      bytes.resize(old + piece);
      if (Read(bytes.data() + old, static_cast<int>(piece)) != static_cast<int>(piece))
        return false;
    }
  }
  if (scramble) ScrambleStringBytes(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size());
  // The text ends at the first zero byte, if one is stored.
  if (const size_t zero = bytes.find('\0'); zero != std::string::npos) bytes.resize(zero);
  return CSysStringHelper::GetSingleton().UTF8ToNative(bytes, text);
}

bool CSysFile::WriteStringTextMode(const std::wstring& text) {
  VELLO_ASSERT(m_fp != NULL);
  return std::fputws(text.c_str(), m_fp) >= 0;
}

bool CSysFile::ReadStringTextMode(std::wstring& text) {
  VELLO_ASSERT(m_fp != NULL);
  wchar_t line[2048];
  if (std::fgetws(line, 2048, m_fp) == nullptr) return false;
  text = line;
  return true;
}

bool CSysFile::WriteFromRamToDisk(const std::wstring& path, const void* data, const int& size) {
  CSysFile file;
  if (!file.Open(path, L"wb+")) return false;
  if (file.Write(data, size) != size) return false;
  // Bytes still in the stdio buffer are not on disk yet: a failed flush
  // (a full disk) must not be reported as success.
  return file.Flush();
}

namespace {

// The whole of an open file into a buffer from allocate(length); false
// when it does not read whole.
template <typename Buffer, typename Allocate>
bool ReadWholeFile(CSysFile& file, Allocate allocate, Buffer& out, int& size) {
  const int length = file.Seek(0, CSysFile::VELLO_SEEK_END);
  if (length == -1 || file.Seek(0, CSysFile::VELLO_SEEK_START) != 0) return false;
  Buffer buffer = allocate(static_cast<size_t>(length));
  if (file.Read(buffer.get(), length) != length) return false;
  // Something that opens but cannot be read (a directory) reports its
  // error only on reading; an empty length must not hide it.
  unsigned char probe;
  if (file.Read(&probe, 1) == 0 && file.Failed()) return false;
  out = std::move(buffer);
  size = length;
  return true;
}

}  // namespace

bool CSysFile::ReadToRamFromDisk(const std::wstring& path, unsigned char** data, int& size) {
  VELLO_ASSERT(data != NULL);
  CSysFile file;
  if (!file.Open(path, L"rb")) return false;
  std::unique_ptr<unsigned char[]> buffer;
  const auto allocate = [](size_t length) {
    std::unique_ptr<unsigned char[]> fresh(new unsigned char[length]);
    AdviseHugePages(fresh.get(), length);
    return fresh;
  };
  if (!ReadWholeFile(file, allocate, buffer, size)) {
    *data = nullptr;
    size = 0;
    return false;
  }
  *data = buffer.release();
  return true;
}

bool CSysFile::ReadRunFromDisk(const std::wstring& path, ByteRun& bytes, int& size) {
  CSysFile file;
  return file.Open(path, L"rb") && ReadWholeFile(file, NewByteRun, bytes, size);
}
