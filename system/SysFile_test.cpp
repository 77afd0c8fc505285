#include "system/SysFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <string>
#include <thread>
#include <utility>

#include "system/SysStringHelper.h"

// Largest single allocation made while armed: proves that a damaged count
// is refused before anything is allocated for it. Replacing every form of
// operator new/delete keeps the pairs consistent for the sanitizers.
namespace {
std::atomic<bool> g_trackAllocations{false};
std::atomic<size_t> g_largestAllocation{0};

void* TrackedAllocate(size_t n) {
  if (g_trackAllocations.load(std::memory_order_relaxed) && n > g_largestAllocation.load())
    g_largestAllocation.store(n);
  return std::malloc(n ? n : 1);
}
}  // namespace

// GCC cannot see that these deletes pair with the news above.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t n) {
  if (void* p = TrackedAllocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t n) {
  if (void* p = TrackedAllocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new(size_t n, const std::nothrow_t&) noexcept { return TrackedAllocate(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return TrackedAllocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

namespace fs = std::filesystem;

class AllocationWatch {
 public:
  AllocationWatch() {
    g_largestAllocation = 0;
    g_trackAllocations = true;
  }
  ~AllocationWatch() { g_trackAllocations = false; }
  size_t Largest() const { return g_largestAllocation; }
};

std::string Hex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string LE32(uint32_t v) {
  std::string out;
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return out;
}

// A fresh, unique file name in the temporary folder, removed afterwards.
class TempPath {
 public:
  TempPath() {
    std::string pattern = (fs::temp_directory_path() / "sysfile_test.XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    if (fd >= 0) close(fd);
    path_ = pattern;
  }
  ~TempPath() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const std::string& narrow() const { return path_; }
  std::wstring wide() const { return CSysStringHelper::GetSingleton().FromUTF8(path_); }

  std::string Contents() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void Store(const std::string& bytes) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

 private:
  std::string path_;
};

std::string WrittenBy(const std::function<void(CSysFile&)>& write) {
  TempPath tmp;
  {
    CSysFile file;
    EXPECT_TRUE(file.Open(tmp.wide(), L"wb"));
    write(file);
  }
  return tmp.Contents();
}

std::string WrittenRecord(const std::wstring& text, bool scramble, bool expectOk = true) {
  return WrittenBy([&](CSysFile& f) { EXPECT_EQ(expectOk, f.WriteString(text, scramble)); });
}

// One string record read from a file holding `bytes`, into a destination
// that starts as "kept".
std::pair<bool, std::wstring> ReadRecord(const std::string& bytes, bool scramble) {
  TempPath tmp;
  tmp.Store(bytes);
  CSysFile f;
  EXPECT_TRUE(f.Open(tmp.wide(), L"rb"));
  std::wstring text = L"kept";
  const bool ok = f.ReadString(text, scramble);
  return {ok, text};
}

std::wstring Wide(const std::string& utf8) { return CSysStringHelper::GetSingleton().FromUTF8(utf8); }

// The record's mask taken byte by byte from its definition: byte j of a
// block of n bytes gets (33 j + n + 146) mod 256.
std::string MaskedByDefinition(std::string data) {
  const size_t fullBlocks = data.size() / 512;
  for (size_t i = 0; i < data.size(); ++i) {
    const size_t n = i / 512 < fullBlocks ? 512 : data.size() % 512;
    data[i] = static_cast<char>(data[i] ^ ((33 * (i % 512) + n + 146) % 256));
  }
  return data;
}

std::string Xor(const std::string& a, const std::string& b) {
  std::string out(a.size(), '\0');
  for (size_t i = 0; i < a.size(); ++i) out[i] = static_cast<char>(a[i] ^ b[i]);
  return out;
}

// ASCII text of n bytes that never holds a zero byte.
std::string AsciiText(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>('!' + i % 90));
  return s;
}

// ---- string record --------------------------------------------------------

TEST(SysFileStringTest, ScrambledRecordsAreByteExact) {
  EXPECT_EQ(Hex("03000000f4d4b4"), WrittenRecord(L"abc", true));
  EXPECT_EQ(Hex("00000000"), WrittenRecord(L"", true));
  for (size_t length : {511u, 512u, 513u, 3u * 512u + 77u}) {
    const std::string text = AsciiText(length);
    const std::string record = WrittenRecord(Wide(text), true);
    ASSERT_EQ(LE32(static_cast<uint32_t>(length)) + MaskedByDefinition(text), record) << length;
    std::string helper = text;
    CSysFile::ScrambleStringBytes(reinterpret_cast<unsigned char*>(helper.data()), helper.size());
    EXPECT_EQ(record.substr(4), helper) << length;
  }
  // A full block starts with masks 146, 179, 212, 245, 22 (278 mod 256); a
  // one-byte tail after it is masked with 147; 512 bytes have no tail.
  const std::string text = AsciiText(513);
  const std::string masks = Xor(WrittenRecord(Wide(text), true).substr(4), text);
  EXPECT_EQ(Hex("92b3d4f516"), masks.substr(0, 5));
  EXPECT_EQ('\x93', masks[512]);
  EXPECT_EQ(masks.substr(0, 512),
            Xor(WrittenRecord(Wide(text.substr(0, 512)), true).substr(4), text.substr(0, 512)));
}

TEST(SysFileStringTest, SeveralBlocksAndTailRoundTrip) {
  // Multi-byte characters straddle the block boundaries.
  std::wstring text;
  for (int i = 0; text.size() < 1200; ++i) {
    text.push_back(static_cast<wchar_t>(L'a' + i % 26));
    text.push_back(static_cast<wchar_t>(0x20AC));
    text.push_back(static_cast<wchar_t>(0x1F600 + i % 50));
  }
  const size_t utf8Size = CSysStringHelper::GetSingleton().ToUTF8(text).size();
  ASSERT_TRUE(utf8Size % 512 != 0 && utf8Size / 512 > 2);
  TempPath tmp;
  {
    CSysFile f;
    ASSERT_TRUE(f.Open(tmp.wide(), L"wb"));
    EXPECT_TRUE(f.WriteString(text, true));
    EXPECT_TRUE(f.WriteString(L"second", true));
  }
  CSysFile f;
  ASSERT_TRUE(f.Open(tmp.wide(), L"rb"));
  std::wstring back;
  std::wstring second;
  EXPECT_TRUE(f.ReadString(back, true));
  EXPECT_TRUE(f.ReadString(second, true));
  EXPECT_EQ(text, back);
  EXPECT_EQ(L"second", second);
  EXPECT_EQ(0, f.Remaining());
}

TEST(SysFileStringTest, UnscrambledRecordReadsBackOnlyWithoutTheFlag) {
  const std::string record = WrittenRecord(L"Plain text, stored as it is.", false);
  EXPECT_EQ(LE32(28) + "Plain text, stored as it is.", record);
  EXPECT_EQ(std::make_pair(true, std::wstring(L"Plain text, stored as it is.")),
            ReadRecord(record, false));
  const auto masked = ReadRecord(record, true);
  EXPECT_TRUE(masked.first);
  EXPECT_NE(L"Plain text, stored as it is.", masked.second);
}

TEST(SysFileStringTest, ReadingOddAndDamagedRecords) {
  const auto scrambled = [](const std::string& plain) {
    return LE32(static_cast<uint32_t>(plain.size())) + MaskedByDefinition(plain);
  };
  const struct {
    const char* name;
    std::string bytes;
    bool scramble;
    bool ok;
    std::wstring text;
  } cases[] = {
      {"empty text leaves the destination", Hex("00000000"), true, true, L"kept"},
      {"negative count leaves the destination", Hex("ffffffff") + "abc", true, true, L"kept"},
      {"decoded zero first gives empty text", scrambled(std::string("\0ab", 3)), true, true, L""},
      {"text ends at a decoded zero", scrambled(std::string("ab\0cd", 5)), true, true, L"ab"},
      {"invalid UTF-8 gives the valid prefix", LE32(5) + Hex("6162c08063"), false, true, L"ab"},
      {"file ends inside the data", LE32(10) + "abcde", true, false, L"kept"},
      {"count beyond the file", Hex("ffffff7f") + "abcdef", true, false, L"kept"},
      {"file ends inside the count", Hex("0300"), true, false, L"kept"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(std::make_pair(c.ok, c.text), ReadRecord(c.bytes, c.scramble)) << c.name;
}

TEST(SysFileStringTest, CountBeyondTheFileFailsWithoutAllocating) {
  TempPath tmp;
  tmp.Store(Hex("ffffff7f") + "abcdef");  // count 0x7FFFFFFF in a 10-byte file
  CSysFile f;
  ASSERT_TRUE(f.Open(tmp.wide(), L"rb"));
  std::wstring text;
  AllocationWatch watch;
  EXPECT_FALSE(f.ReadString(text, true));
  EXPECT_LT(watch.Largest(), 4096u);
}

TEST(SysFileStringTest, UnconvertibleTextWritesNothingAndNulIsDropped) {
  for (uint32_t bad : {0xD800u, 0x110000u}) {
    std::wstring text = L"ab";
    text.push_back(static_cast<wchar_t>(bad));
    EXPECT_EQ("", WrittenRecord(text, true, false)) << std::hex << bad;
  }
  std::wstring withNul = L"a";
  withNul.push_back(L'\0');
  withNul.push_back(L'b');
  EXPECT_EQ(LE32(2) + MaskedByDefinition("ab"), WrittenRecord(withNul, true));
}

// A pipe cannot tell how much is left: records still read, and a damaged
// count costs no more memory than the bytes that arrive (in bounded pieces).
class PipeStream {
 public:
  explicit PipeStream(std::string bytes) {
    int fds[2];
    if (pipe(fds) != 0) return;
    reader_ = fdopen(fds[0], "rb");
    writer_ = std::thread([fd = fds[1], bytes = std::move(bytes)] {
      size_t at = 0;
      while (at < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
        if (n <= 0) break;
        at += static_cast<size_t>(n);
      }
      close(fd);
    });
  }
  ~PipeStream() {
    if (reader_) fclose(reader_);
    if (writer_.joinable()) writer_.join();
  }
  FILE* reader() const { return reader_; }

 private:
  FILE* reader_ = nullptr;
  std::thread writer_;
};

TEST(SysFileStringTest, UnseekableStreamReadsRecordsLongerThanOnePiece) {
  const std::string plain = AsciiText(70000);
  PipeStream pipe(LE32(70000) + MaskedByDefinition(plain));
  ASSERT_NE(nullptr, pipe.reader());
  CSysFile f(pipe.reader());
  EXPECT_EQ(-1, f.Remaining());
  std::wstring text;
  EXPECT_TRUE(f.ReadString(text, true));
  EXPECT_EQ(Wide(plain), text);
}

TEST(SysFileStringTest, UnseekableStreamWithDamagedCountFailsWithBoundedMemory) {
  PipeStream pipe(Hex("ffffff7f") + "abcdef");
  ASSERT_NE(nullptr, pipe.reader());
  CSysFile f(pipe.reader());
  std::wstring text = L"kept";
  AllocationWatch watch;
  EXPECT_FALSE(f.ReadString(text, true));
  EXPECT_LT(watch.Largest(), 256u * 1024u);
  EXPECT_EQ(L"kept", text);
}

// ---- typed primitives -----------------------------------------------------

TEST(SysFilePrimitiveTest, LittleEndianBytesAndReadBack) {
  TempPath tmp;
  {
    CSysFile f;
    ASSERT_TRUE(f.Open(tmp.wide(), L"wb"));
    EXPECT_TRUE(f.WriteInt(0x12345678));
    EXPECT_TRUE(f.WriteInt(-2));
    EXPECT_TRUE(f.WriteUInt(0xA1B2C3D4u));
    EXPECT_TRUE(f.WriteShort(0x1234));
    EXPECT_TRUE(f.WriteShort(-1));
    EXPECT_TRUE(f.WriteChar('\x9C'));
    EXPECT_TRUE(f.WriteBool(true));
    EXPECT_TRUE(f.WriteBool(false));
  }
  EXPECT_EQ(Hex("78563412" "feffffff" "d4c3b2a1" "3412" "ffff" "9c" "01000000" "00000000"),
            tmp.Contents());
  CSysFile f;
  ASSERT_TRUE(f.Open(tmp.wide(), L"rb"));
  int i1 = 0, i2 = 0;
  unsigned int u = 0;
  short s1 = 0, s2 = 0;
  char c = 0;
  bool b1 = false, b2 = true;
  EXPECT_TRUE(f.ReadInt(i1));
  EXPECT_TRUE(f.ReadInt(i2));
  EXPECT_TRUE(f.ReadUInt(u));
  EXPECT_TRUE(f.ReadShort(s1));
  EXPECT_TRUE(f.ReadShort(s2));
  EXPECT_TRUE(f.ReadChar(c));
  EXPECT_TRUE(f.ReadBool(b1));
  EXPECT_TRUE(f.ReadBool(b2));
  EXPECT_EQ(0x12345678, i1);
  EXPECT_EQ(-2, i2);
  EXPECT_EQ(0xA1B2C3D4u, u);
  EXPECT_EQ(0x1234, s1);
  EXPECT_EQ(-1, s2);
  EXPECT_EQ('\x9C', c);
  EXPECT_TRUE(b1);
  EXPECT_FALSE(b2);
  EXPECT_FALSE(f.ReadChar(c)) << "end of file";
}

TEST(SysFilePrimitiveTest, OnlyAStoredOneIsTrue) {
  const struct {
    uint32_t stored;
    bool expected;
  } cases[] = {{1, true}, {0, false}, {2, false}, {0xFFFFFFFF, false}, {0x100, false}};
  for (const auto& c : cases) {
    TempPath tmp;
    tmp.Store(LE32(c.stored));
    CSysFile f;
    ASSERT_TRUE(f.Open(tmp.wide(), L"rb"));
    bool value = !c.expected;
    EXPECT_TRUE(f.ReadBool(value));
    EXPECT_EQ(c.expected, value) << std::hex << c.stored;
  }
}

TEST(SysFilePrimitiveTest, ShortReadsFailAndLeaveTheDestination) {
  TempPath tmp;
  tmp.Store(Hex("010000"));  // three of four bytes
  for (bool initial : {true, false}) {
    CSysFile f;
    ASSERT_TRUE(f.Open(tmp.wide(), L"rb"));
    bool value = initial;
    EXPECT_FALSE(f.ReadBool(value));
    EXPECT_EQ(initial, value);
  }
  CSysFile f;
  ASSERT_TRUE(f.Open(tmp.wide(), L"rb"));
  int value = 77;
  EXPECT_FALSE(f.ReadInt(value));
  EXPECT_EQ(77, value);
}

TEST(SysFilePrimitiveTest, NegativeCountsTransferNothing) {
  TempPath tmp;
  tmp.Store("abcd");
  CSysFile f;
  ASSERT_TRUE(f.Open(tmp.wide(), L"r+b"));
  char buffer[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(0, f.Read(buffer, -1));
  EXPECT_EQ('x', buffer[0]);
  EXPECT_EQ(0, f.Seek(0, CSysFile::VELLO_SEEK_START));
  EXPECT_EQ(0, f.Write("zz", -5));
  f.Close();
  EXPECT_EQ("abcd", tmp.Contents());
}

// ---- seeking, handles ------------------------------------------------------

TEST(SysFileSeekTest, PositionsLengthAndFailure) {
  TempPath tmp;
  tmp.Store(AsciiText(37));
  CSysFile f;
  ASSERT_TRUE(f.Open(tmp.wide(), L"rb"));
  EXPECT_EQ(37, f.Seek(0, CSysFile::VELLO_SEEK_END));
  EXPECT_EQ(0, f.Remaining());
  EXPECT_EQ(5, f.Seek(5, CSysFile::VELLO_SEEK_START));
  EXPECT_EQ(7, f.Seek(2, CSysFile::VELLO_SEEK_CURRENT));
  EXPECT_EQ(30, f.Remaining());
  EXPECT_EQ(7, f.Seek(0, CSysFile::VELLO_SEEK_CURRENT)) << "Remaining keeps the position";
  EXPECT_EQ(-1, f.Seek(-1, CSysFile::VELLO_SEEK_START));
}

TEST(SysFileHandleTest, OpenFailsOnMissingFileAndStaysClosed) {
  TempPath tmp;
  CSysFile f;
  EXPECT_FALSE(f.Open(tmp.wide() + L"/missing/file", L"rb"));
  EXPECT_FALSE(f.IsOpen());
}

TEST(SysFileHandleTest, OpenRefusesNamesThatDoNotConvertWhole) {
  TempPath tmp;
  std::wstring surrogate = tmp.wide();
  surrogate.push_back(static_cast<wchar_t>(0xD800));
  std::wstring withNul = tmp.wide();
  withNul.push_back(L'\0');
  withNul += L"x";
  CSysFile f;
  EXPECT_FALSE(f.Open(surrogate, L"rb"));
  EXPECT_FALSE(f.Open(withNul, L"rb"));
  EXPECT_FALSE(f.IsOpen());
}

bool DescriptorIsOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

TEST(SysFileHandleTest, AdoptedHandleStaysOpen) {
  TempPath tmp;
  FILE* fp = std::fopen(tmp.narrow().c_str(), "wb");
  ASSERT_NE(nullptr, fp);
  {
    CSysFile f(fp);
    EXPECT_TRUE(f.WriteInt(1));
    f.Close();
    EXPECT_FALSE(f.IsOpen());
    CSysFile g;
    g.OpenFromHandle(fp);
  }  // neither destructor closes it
  EXPECT_TRUE(DescriptorIsOpen(fileno(fp)));
  EXPECT_EQ(1u, std::fwrite("!", 1, 1, fp));
  EXPECT_EQ(0, std::fclose(fp));
  EXPECT_EQ(Hex("01000000") + "!", tmp.Contents());
}

TEST(SysFileHandleTest, AdoptingAHandleClosesTheOneTheStreamOpened) {
  TempPath a;
  TempPath b;
  FILE* adopted = std::fopen(b.narrow().c_str(), "rb");
  ASSERT_NE(nullptr, adopted);
  // The stream's own handle gets the lowest free descriptor.
  const int own = dup(0);
  ASSERT_GE(own, 0);
  close(own);
  CSysFile f;
  ASSERT_TRUE(f.Open(a.wide(), L"rb"));
  ASSERT_TRUE(DescriptorIsOpen(own));
  f.OpenFromHandle(adopted);
  EXPECT_FALSE(DescriptorIsOpen(own)) << "the stream's own handle is not leaked";
  EXPECT_EQ(0, f.Seek(0, CSysFile::VELLO_SEEK_START));
  f.Close();
  EXPECT_TRUE(DescriptorIsOpen(fileno(adopted)));
  std::fclose(adopted);
}

// ---- whole files -------------------------------------------------------------

TEST(SysFileWholeTest, WriteThenReadBack) {
  TempPath tmp;
  const std::string bytes = Hex("00ff10") + AsciiText(5000);
  const int size = static_cast<int>(bytes.size());
  EXPECT_TRUE(CSysFile::WriteFromRamToDisk(tmp.wide(), bytes.data(), size));
  EXPECT_EQ(bytes, tmp.Contents());
  unsigned char* data = nullptr;
  int length = -1;
  ASSERT_TRUE(CSysFile::ReadToRamFromDisk(tmp.wide(), &data, length));
  ASSERT_EQ(size, length);
  EXPECT_EQ(bytes, std::string(reinterpret_cast<char*>(data), static_cast<size_t>(length)));
  delete[] data;
}

TEST(SysFileWholeTest, EmptyFileGivesAZeroLengthBuffer) {
  TempPath tmp;
  unsigned char* data = nullptr;
  int length = -1;
  ASSERT_TRUE(CSysFile::ReadToRamFromDisk(tmp.wide(), &data, length));
  EXPECT_EQ(0, length);
  EXPECT_NE(nullptr, data);
  delete[] data;
}

TEST(SysFileWholeTest, MissingFileLeavesTheOutputsAlone) {
  TempPath tmp;
  unsigned char sentinel = 0;
  unsigned char* data = &sentinel;
  int length = 1234;
  EXPECT_FALSE(CSysFile::ReadToRamFromDisk(tmp.wide() + L".missing", &data, length));
  EXPECT_EQ(&sentinel, data);
  EXPECT_EQ(1234, length);
}

TEST(SysFileWholeTest, DirectoryFailsCleanly) {
  TempPath tmp;
  fs::remove(tmp.narrow());
  ASSERT_TRUE(fs::create_directory(tmp.narrow()));
  unsigned char sentinel = 0;
  unsigned char* data = &sentinel;
  int length = 1234;
  EXPECT_FALSE(CSysFile::ReadToRamFromDisk(tmp.wide(), &data, length));
  EXPECT_EQ(nullptr, data);
  EXPECT_EQ(0, length);
  EXPECT_FALSE(CSysFile::WriteFromRamToDisk(tmp.wide(), "x", 1));
}

TEST(SysFileWholeTest, FullDiskIsNotReportedAsSuccess) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const int size = 100;
  EXPECT_FALSE(CSysFile::WriteFromRamToDisk(L"/dev/full", AsciiText(100).data(), size));
}

// ---- text mode ---------------------------------------------------------------

TEST(SysFileTextModeTest, LinesWithNewlinesAndTheBufferLimit) {
  TempPath tmp;
  const std::wstring longLine(3000, L'x');
  {
    CSysFile f;
    ASSERT_TRUE(f.Open(tmp.wide(), L"w"));
    EXPECT_TRUE(f.WriteStringTextMode(L"line one\nline two\n"));
    EXPECT_TRUE(f.WriteStringTextMode(longLine));
  }
  EXPECT_EQ("line one\nline two\n" + std::string(3000, 'x'), tmp.Contents());
  CSysFile f;
  ASSERT_TRUE(f.Open(tmp.wide(), L"r"));
  std::wstring line;
  EXPECT_TRUE(f.ReadStringTextMode(line));
  EXPECT_EQ(L"line one\n", line);
  EXPECT_TRUE(f.ReadStringTextMode(line));
  EXPECT_EQ(L"line two\n", line);
  EXPECT_TRUE(f.ReadStringTextMode(line));
  EXPECT_EQ(std::wstring(2047, L'x'), line);
  EXPECT_TRUE(f.ReadStringTextMode(line));
  EXPECT_EQ(std::wstring(953, L'x'), line);
  line = L"kept";
  EXPECT_FALSE(f.ReadStringTextMode(line));
  EXPECT_EQ(L"kept", line);
}

// ---- programming errors ------------------------------------------------------

const char* const kClosed = "\\(m_fp != __null\\), function %s, file system/SysFile, line [0-9]+";

std::string Closed(const char* function) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, kClosed, function);
  return buffer;
}

TEST(SysFileDeathTest, ClosedStream) {
  CSysFile f;
  char buffer[4];
  std::wstring text;
  EXPECT_DEATH(f.Read(buffer, 4), Closed("Read"));
  EXPECT_DEATH(f.Write(buffer, 4), Closed("Write"));
  EXPECT_DEATH(f.Seek(0, CSysFile::VELLO_SEEK_START), Closed("Seek"));
  EXPECT_DEATH(f.ReadStringTextMode(text), Closed("ReadStringTextMode"));
  EXPECT_DEATH(f.WriteStringTextMode(text), Closed("WriteStringTextMode"));
}

TEST(SysFileDeathTest, NullBuffer) {
  TempPath tmp;
  CSysFile f;
  ASSERT_TRUE(f.Open(tmp.wide(), L"r+b"));
  EXPECT_DEATH(f.Read(nullptr, 4),
               "\\(pv != __null\\), function Read, file system/SysFile, line [0-9]+");
  EXPECT_DEATH(f.Write(nullptr, 4),
               "\\(pv != __null\\), function Write, file system/SysFile, line [0-9]+");
}

TEST(SysFileDeathTest, BadOriginIsCheckedBeforeTheHandle) {
  CSysFile f;  // closed: the origin text must come first
  EXPECT_DEATH(f.Seek(0, static_cast<CSysFile::SEEK_FLAGS>(3)),
               "Assertion failed: \\(origin == VELLO_SEEK_START \\|\\| origin == "
               "VELLO_SEEK_CURRENT \\|\\| origin == VELLO_SEEK_END\\), function Seek, "
               "file system/SysFile, line [0-9]+\\.");
}

}  // namespace
