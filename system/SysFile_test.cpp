#include "system/SysFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <utility>

#include "system/TempDir_test.h"

// Largest single allocation made while armed: a damaged count must be refused
// before anything is allocated for it. Every form of new/delete is replaced,
// so the pairs stay consistent for the sanitizers.
static std::atomic<bool> g_trackAllocations{false};
static std::atomic<size_t> g_largestAllocation{0};

// GCC cannot see that these deletes pair with the news below.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t n) {
  if (g_trackAllocations && n > g_largestAllocation) g_largestAllocation = n;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t n) { return operator new(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return std::malloc(n ? n : 1); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return std::malloc(n ? n : 1); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

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

// ASCII text of n bytes that never holds a zero byte.
std::string AsciiText(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>('!' + i % 90));
  return s;
}

// The record taken from its definition: the count, then byte j of each
// block of n bytes masked with (33 j + n + 146) mod 256.
std::string ScrambledRecord(std::string data) {
  const size_t fullBlocks = data.size() / 512;
  for (size_t i = 0; i < data.size(); ++i) {
    const size_t n = i / 512 < fullBlocks ? 512 : data.size() % 512;
    data[i] = static_cast<char>(data[i] ^ ((33 * (i % 512) + n + 146) % 256));
  }
  return LE32(static_cast<uint32_t>(data.size())) + data;
}

// Each test works on one file "f" in a private folder.
class SysFileTest : public ::testing::Test {
 protected:
  std::string Contents() const {
    const auto bytes = TempDir::ReadAll(dir.File("f"));
    return std::string(bytes.begin(), bytes.end());
  }
  void Store(const std::string& bytes) const { dir.Put("f", {bytes.begin(), bytes.end()}); }

  std::string WrittenRecord(const std::wstring& text, bool scramble, bool expectOk = true) {
    {
      CSysFile f;
      EXPECT_TRUE(f.Open(path, L"wb"));
      EXPECT_EQ(expectOk, f.WriteString(text, scramble));
    }
    return Contents();
  }

  // One record read from a file holding `bytes`, or from a pipe fed from
  // it (which cannot seek), into a destination that starts as "kept".
  // Afterwards g_largestAllocation holds the largest allocation it made.
  std::pair<bool, std::wstring> ReadRecord(const std::string& bytes, bool scramble,
                                           bool throughPipe = false) {
    Store(bytes);
    FILE* fp = throughPipe ? popen(("cat '" + dir.File("f") + "'").c_str(), "r")
                           : std::fopen(dir.File("f").c_str(), "rb");
    EXPECT_NE(nullptr, fp);
    std::wstring text = L"kept";
    bool ok = false;
    {
      CSysFile f(fp);
      g_largestAllocation = 0;
      g_trackAllocations = true;
      ok = f.ReadString(text, scramble);
      g_trackAllocations = false;
    }
    throughPipe ? pclose(fp) : std::fclose(fp);
    return {ok, text};
  }

  TempDir dir;
  const std::wstring path = dir.WideFile("f");
};

TEST_F(SysFileTest, RecordsAreByteExactAndReadBack) {
  EXPECT_EQ(Hex("03000000f4d4b4"), WrittenRecord(L"abc", true));
  EXPECT_EQ(LE32(3) + "abc", WrittenRecord(L"abc", false));
  EXPECT_EQ(Hex("00000000"), WrittenRecord(L"", true));
  for (int bad : {0xD800, 0x110000}) {  // nothing written, not even the count
    EXPECT_EQ("", WrittenRecord(L"ab" + std::wstring(1, static_cast<wchar_t>(bad)), true, false));
  }
  // 512 bytes are one full block and no short one; a 513th byte forms a
  // block of its own, masked with 147.
  for (size_t length : {512u, 513u, 3u * 512u + 77u}) {
    const std::string text = AsciiText(length);
    const std::wstring wide(text.begin(), text.end());
    const std::string record = WrittenRecord(wide, true);
    ASSERT_EQ(ScrambledRecord(text), record) << length;
    EXPECT_EQ(0x92, static_cast<unsigned char>(record[4] ^ text[0])) << length;
    if (length == 513) {
      EXPECT_EQ(0x93, static_cast<unsigned char>(record[516] ^ text[512]));
    }
    EXPECT_EQ(std::make_pair(true, wide), ReadRecord(record, true)) << length;
  }
}

TEST_F(SysFileTest, ReadingOddAndDamagedRecords) {
  const struct {
    const char* name;
    std::string bytes;
    bool scramble;
    bool ok;
    std::wstring text;
  } cases[] = {
      {"empty text leaves the destination", Hex("00000000"), true, true, L"kept"},
      {"negative count leaves the destination", Hex("ffffffff") + "abc", true, true, L"kept"},
      {"decoded zero first gives empty text", ScrambledRecord(std::string("\0ab", 3)), true, true,
       L""},
      {"text ends at a decoded zero", ScrambledRecord(std::string("ab\0cd", 5)), true, true, L"ab"},
      {"invalid UTF-8 gives the valid prefix", LE32(5) + Hex("6162c08063"), false, true, L"ab"},
      {"file ends inside the data", LE32(10) + "abcde", true, false, L"kept"},
      {"count beyond the file", Hex("ffffff7f") + "abcdef", true, false, L"kept"},
      {"file ends inside the count", Hex("0300"), true, false, L"kept"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(std::make_pair(c.ok, c.text), ReadRecord(c.bytes, c.scramble)) << c.name;
    EXPECT_LT(g_largestAllocation, 4096u) << c.name << ": nothing allocated for the count";
  }
}

// Through a pipe the stream cannot tell how much is left: a record longer
// than one read piece still arrives, and a damaged count costs no more
// memory than the bytes that really come.
TEST_F(SysFileTest, UnseekableStreamReadsInBoundedPieces) {
  const std::string plain = AsciiText(70000);
  EXPECT_EQ(std::make_pair(true, std::wstring(plain.begin(), plain.end())),
            ReadRecord(ScrambledRecord(plain), true, true));
  EXPECT_EQ(std::make_pair(false, std::wstring(L"kept")),
            ReadRecord(Hex("ffffff7f") + "abcdef", true, true));
  EXPECT_LT(g_largestAllocation, 256u * 1024u);
}

template <typename T>
T Next(CSysFile& f, bool (CSysFile::*read)(T&)) {
  T value{};
  EXPECT_TRUE((f.*read)(value));
  return value;
}

TEST_F(SysFileTest, PrimitivesOnlyAStoredOneIsTrueShortReadsAndSeeking) {
  {
    CSysFile f;
    ASSERT_TRUE(f.Open(path, L"wb"));
    EXPECT_TRUE(f.WriteInt(0x12345678));
    EXPECT_TRUE(f.WriteUInt(0xA1B2C3D4u));
    EXPECT_TRUE(f.WriteShort(-2));
    EXPECT_TRUE(f.WriteChar('\x9C'));
    EXPECT_TRUE(f.WriteBool(true));
    EXPECT_TRUE(f.WriteBool(false));
    for (unsigned int stored : {2u, 0xFFFFFFFFu, 0x100u}) EXPECT_TRUE(f.WriteUInt(stored));
  }
  Store(Contents() + Hex("010000"));  // three of four bytes
  EXPECT_EQ(Hex("78563412" "d4c3b2a1" "feff" "9c" "01000000" "00000000" "02000000" "ffffffff"
                "00010000" "010000"),
            Contents());
  CSysFile f;
  ASSERT_TRUE(f.Open(path, L"rb"));
  EXPECT_EQ(0x12345678, Next(f, &CSysFile::ReadInt));
  EXPECT_EQ(0xA1B2C3D4u, Next(f, &CSysFile::ReadUInt));
  EXPECT_EQ(-2, Next(f, &CSysFile::ReadShort));
  EXPECT_EQ('\x9C', Next(f, &CSysFile::ReadChar));
  for (bool expected : {true, false, false, false, false}) {
    bool value = !expected;
    EXPECT_TRUE(f.ReadBool(value));
    EXPECT_EQ(expected, value);
  }
  bool flag = true;
  EXPECT_FALSE(f.ReadBool(flag));
  EXPECT_TRUE(flag);
  int number = 77;
  EXPECT_EQ(31, f.Seek(-3, CSysFile::VELLO_SEEK_CURRENT));
  EXPECT_FALSE(f.ReadInt(number));
  EXPECT_EQ(77, number);
  EXPECT_EQ(34, f.Seek(0, CSysFile::VELLO_SEEK_END));
  EXPECT_EQ(0, f.Remaining());
  EXPECT_EQ(5, f.Seek(5, CSysFile::VELLO_SEEK_START));
  EXPECT_EQ(29, f.Remaining());
  EXPECT_EQ(-1, f.Seek(-1, CSysFile::VELLO_SEEK_START));
}

TEST_F(SysFileTest, RemainingFollowsWritesThatGrowTheFile) {
  CSysFile f;
  ASSERT_TRUE(f.Open(path, L"w+b"));
  ASSERT_EQ(10, f.Write("0123456789", 10));
  EXPECT_EQ(4, f.Seek(4, CSysFile::VELLO_SEEK_START));
  EXPECT_EQ(6, f.Remaining());
  EXPECT_EQ(10, f.Seek(0, CSysFile::VELLO_SEEK_END));
  ASSERT_EQ(6, f.Write("abcdef", 6));
  EXPECT_EQ(4, f.Seek(4, CSysFile::VELLO_SEEK_START));
  EXPECT_EQ(12, f.Remaining());
  ASSERT_TRUE(f.Flush());
  EXPECT_EQ("0123456789abcdef", Contents());
}

// Bytes read at an offset leave the stream where it was, and its buffer
// too; positions past 2 GiB are told (a sparse file costs no space).
TEST_F(SysFileTest, ReadAtTellAndSkipWhereTheFileSeeks) {
  Store("0123456789abcdef");
  CSysFile f;
  ASSERT_TRUE(f.Open(path, L"rb"));
  ASSERT_TRUE(f.CanReadAt());
  char c = 0;
  ASSERT_TRUE(f.ReadChar(c));
  char piece[8] = {};
  EXPECT_EQ(6, f.ReadAt(10, piece, 8)) << "short only at the end of the file";
  EXPECT_EQ("abcdef", std::string(piece, 6));
  EXPECT_EQ(0, f.ReadAt(16, piece, 8));
  EXPECT_EQ(1, f.Tell());
  ASSERT_TRUE(f.ReadChar(c));
  EXPECT_EQ('1', c);
  ASSERT_TRUE(f.Skip(8));
  EXPECT_EQ(10, f.Tell());
  EXPECT_EQ(6, f.Remaining());
  ASSERT_TRUE(f.ReadChar(c));
  EXPECT_EQ('a', c);

  // Pipes and streams in memory have no offsets to read at; a pipe has no
  // position either.
  char memory[] = "abc";
  FILE* pipe = popen(("cat '" + dir.File("f") + "'").c_str(), "r");
  FILE* inMemory = fmemopen(memory, 3, "rb");
  ASSERT_TRUE(pipe != nullptr && inMemory != nullptr);
  {
    CSysFile piped(pipe), inRam(inMemory);
    for (CSysFile* unseekable : {&piped, &inRam}) {
      EXPECT_FALSE(unseekable->CanReadAt());
      EXPECT_EQ(-1, unseekable->ReadAt(0, piece, 3));
    }
    EXPECT_EQ(-1, piped.Tell());
    EXPECT_FALSE(piped.Skip(1));
  }
  pclose(pipe);
  std::fclose(inMemory);

  ASSERT_EQ(0, truncate(dir.File("f").c_str(), 3LL << 30));
  ASSERT_TRUE(f.Skip(3LL << 30));
  EXPECT_EQ((3LL << 30) + 11, f.Tell());
  EXPECT_EQ(2, f.ReadAt((3LL << 30) - 2, piece, 8));
  EXPECT_EQ(std::string(2, '\0'), std::string(piece, 2));
}

TEST_F(SysFileTest, OpenRefusesMissingFilesAndNamesThatDoNotConvertWhole) {
  CSysFile f;
  EXPECT_FALSE(f.Open(path + L"/missing", L"rb"));
  EXPECT_FALSE(f.Open(path + static_cast<wchar_t>(0xD800), L"wb"));
  EXPECT_FALSE(f.Open(path + L'\0' + L"x", L"wb"));
  EXPECT_FALSE(f.IsOpen());
  EXPECT_FALSE(std::filesystem::exists(dir.File("fx"))) << "no other file created";
}

bool DescriptorIsOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

TEST_F(SysFileTest, AdoptedHandlesStayOpenOwnOnesAreClosed) {
  FILE* fp = std::fopen(dir.File("f").c_str(), "wb");
  ASSERT_NE(nullptr, fp);
  {
    CSysFile f(fp);
    EXPECT_TRUE(f.WriteInt(1));
    f.Close();
    EXPECT_FALSE(f.IsOpen());
    // The stream's own handle gets the lowest free descriptor; adopting
    // another handle must close it, not leak it.
    const int own = dup(0);
    ASSERT_GE(own, 0);
    close(own);
    CSysFile g;
    ASSERT_TRUE(g.Open(dir.WideFile("own"), L"wb"));
    ASSERT_TRUE(DescriptorIsOpen(own));
    g.OpenFromHandle(fp);
    EXPECT_FALSE(DescriptorIsOpen(own));
  }  // neither destructor closes the adopted handle
  EXPECT_TRUE(DescriptorIsOpen(fileno(fp)));
  EXPECT_EQ(1u, std::fwrite("!", 1, 1, fp));
  EXPECT_EQ(0, std::fclose(fp));
  EXPECT_EQ(Hex("01000000") + "!", Contents());
}

TEST_F(SysFileTest, WholeFilesWriteAndReadBackOrFailLeavingTheOutputs) {
  for (const std::string& bytes : {Hex("00ff10") + AsciiText(5000), std::string()}) {
    const int size = static_cast<int>(bytes.size());
    EXPECT_TRUE(CSysFile::WriteFromRamToDisk(path, bytes.data(), size));
    EXPECT_EQ(bytes, Contents());
    unsigned char* data = nullptr;
    int length = -1;
    ASSERT_TRUE(CSysFile::ReadToRamFromDisk(path, &data, length));
    ASSERT_EQ(size, length);
    ASSERT_NE(nullptr, data);
    EXPECT_EQ(bytes, std::string(reinterpret_cast<char*>(data), bytes.size()));
    delete[] data;
  }
  unsigned char sentinel = 0;
  unsigned char* data = &sentinel;
  int length = 1234;
  EXPECT_FALSE(CSysFile::ReadToRamFromDisk(dir.WideFile("missing"), &data, length)) << "missing";
  EXPECT_EQ(&sentinel, data) << "a file that does not open leaves the outputs alone";
  EXPECT_EQ(1234, length);
  EXPECT_FALSE(CSysFile::ReadToRamFromDisk(dir.path().wstring(), &data, length)) << "directory";
  EXPECT_EQ(nullptr, data);
  EXPECT_EQ(0, length);
  EXPECT_FALSE(CSysFile::WriteFromRamToDisk(dir.path().wstring(), "x", 1));
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_FALSE(CSysFile::WriteFromRamToDisk(L"/dev/full", AsciiText(100).data(), 100));
  }
}

TEST_F(SysFileTest, TextModeLinesAndTheBufferLimit) {
  {
    CSysFile f;
    ASSERT_TRUE(f.Open(path, L"w"));
    EXPECT_TRUE(f.WriteStringTextMode(L"line one\n" + std::wstring(3000, L'x')));
  }
  EXPECT_EQ("line one\n" + std::string(3000, 'x'), Contents());
  CSysFile f;
  ASSERT_TRUE(f.Open(path, L"r"));
  std::wstring line;
  for (const std::wstring& expected :
       {std::wstring(L"line one\n"), std::wstring(2047, L'x'), std::wstring(953, L'x')}) {
    EXPECT_TRUE(f.ReadStringTextMode(line));
    EXPECT_EQ(expected, line);
  }
  line = L"kept";
  EXPECT_FALSE(f.ReadStringTextMode(line));
  EXPECT_EQ(L"kept", line);
}

}  // namespace
