#include "builder_package/FileContent.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "system/RandomBytes_test.h"
#include "system/SysFile.h"
#include "tools/vello/OutputFolder.h"
#include "tools/vello/PackageContent.h"
#include "tools/vello/Progress.h"
#include "tools/vello/Text.h"
#include "tools/vello/ToolError.h"
#include "tools/vello/VelloRun_test.h"

using vellorun::Bytes;


TEST(FileContentTest, StoredRunsAreDescrambledPieceByPieceFromAnyOffset) {
  const Bytes stored = RandomBytes(1000, 3);
  const int k = 125;
  const FileContent content = FileContent::Descrambled(stored.data(), 1000, k);
  EXPECT_EQ(content.size(), 1000u);
  unsigned char scratch[1000];
  // Byte i of L stored bytes is XORed with (L + 33 i + k) mod 256.
  for (const auto& [at, n] : {std::pair<std::size_t, std::size_t>{0, 1000}, {1, 255}, {257, 600}, {999, 1}}) {
    const unsigned char* piece = content.Piece(at, n, scratch);
    for (std::size_t i = 0; i < n; ++i)
      ASSERT_EQ(piece[i], stored[at + i] ^ static_cast<unsigned char>((1000 + 33 * (at + i) + k) % 256))
          << at << "+" << i;
  }
}

// A run left in the package file is read and descrambled in pieces on the
// way out. Should the file shrink meanwhile, writing stops with a message
// and leaves no partial file.
TEST(FileContentTest, RunsInThePackageFileAreStreamedAndAShrunkFileIsAnError) {
  TempDir dir;
  const std::size_t length = 600001;  // three pieces of writing
  const Bytes stored = RandomBytes(length, 11);
  Bytes file = RandomBytes(100, 13);
  file.insert(file.end(), stored.begin(), stored.end());
  dir.Write("package.dat", file);
  CSysFile package;
  ASSERT_TRUE(package.Open(dir.WideFile("package.dat"), L"rb"));
  const int k = 122;
  const FileContent content = FileContent::DescrambledFromFile(package, 100, static_cast<int>(length), k);
  ASSERT_EQ(content.size(), length);

  OutputFolder folder(dir.File("out"), false);
  Progress progress("extracting", 2 * length);
  folder.Stage("whole.swf", content, progress);
  folder.Commit();
  Bytes expected = stored;
  for (std::size_t i = 0; i < length; ++i) expected[i] ^= static_cast<unsigned char>((length + 33 * i + k) % 256);
  EXPECT_TRUE(TempDir::ReadAll(dir.File("out/whole.swf")) == expected);

  ASSERT_EQ(truncate(dir.File("package.dat").c_str(), 100 + 300000), 0);
  try {
    folder.Stage("cut.swf", content, progress);
    ADD_FAILURE() << "a shrunk package was written from";
  } catch (const ToolError& e) {
    EXPECT_EQ(std::string(e.what()), dir.File("out/cut.swf") +
                                         ": cannot read its bytes from the package: the package file is "
                                         "shorter than when it was read");
  }
  folder.Discard();
  EXPECT_FALSE(std::filesystem::exists(dir.File("out/cut.swf")));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("out")), {}), 1) << "no temporary file left";
}

// A compressed item inflates a piece at a time to exactly its recorded
// size: a stream that ends sooner or goes on longer, or is damaged, fails
// at the piece where that shows. Pieces asked out of order still come right.
TEST(FileContentTest, CompressedItemsInflateToExactlyTheirRecordedSize) {
  const Bytes plain = vellorun::Compressible(300000, 'p');
  const int k = 182;
  Bytes stored = recordbytes::Scrambled(vellorun::Deflated(plain, 9), k);
  const int packed = static_cast<int>(stored.size());
  Bytes damaged = stored;
  damaged[packed / 2] ^= 0x55;
  const struct {
    const char* what;
    const Bytes* bytes;
    int recorded;
    bool whole;
  } cases[] = {
      {"as recorded", &stored, 300000, true},       {"one byte short", &stored, 300001, false},
      {"one byte more", &stored, 299999, false},    {"a tenth of it", &stored, 30000, false},
      {"damaged in the middle", &damaged, 300000, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const FileContent content = FileContent::Inflated(c.bytes->data(), packed, c.recorded, k);
    std::string problem;
    EXPECT_EQ(ReadsWhole(content, problem), c.whole) << problem;
    const std::string expected = c.whole ? "" : "does not inflate to its recorded " + std::to_string(c.recorded) +
                                                    " bytes (" + std::to_string(packed) + " packed)";
    EXPECT_EQ(problem, expected);
  }
  const FileContent content = FileContent::Inflated(stored.data(), packed, 300000, k);
  unsigned char scratch[1000];
  for (std::size_t at : {200000u, 1000u, 299000u, 0u}) {
    const unsigned char* piece = content.Piece(at, 1000, scratch);
    ASSERT_NE(piece, nullptr) << at;
    EXPECT_TRUE(std::equal(piece, piece + 1000, plain.begin() + static_cast<long>(at))) << at;
  }
}

// A folder of the way that becomes a link after the checks is refused by
// name when written, and nothing lands behind the link.
TEST(FileContentTest, AFolderSwappedForALinkIsNamed) {
  TempDir dir;
  std::filesystem::create_directories(dir.File("outside"));
  OutputFolder folder(dir.File("out"), false);
  EXPECT_EQ(folder.Refusal("files/a.bin"), "");
  std::filesystem::create_directory_symlink(dir.File("outside"), dir.File("out/files"));
  const Bytes bytes = {1, 2, 3};
  Progress progress("extracting", 3);
  try {
    folder.Stage("files/a.bin", FileContent::Held(RunBytes(bytes.begin(), bytes.end())), progress);
    ADD_FAILURE() << "written through a link";
  } catch (const ToolError& e) {
    EXPECT_EQ(std::string(e.what()), dir.File("out/files/a.bin") + ": refused: files is a symbolic link");
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.File("outside")));
}

// Text for a terminal: control characters escaped, the rest unchanged.
TEST(FileContentTest, TerminalTextEscapesControlCharacters) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain name.swf", "plain name.swf"},
      {"\x1b[31mred", "\\x1B[31mred"},
      {"\x1b]0;title\x07", "\\x1B]0;title\\x07"},
      {"tab\there\x7f", "tab\\x09here\\x7F"},
      {"c1 \xc2\x9b" "2J \xc2\x85", "c1 \\u009B2J \\u0085"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"bad \x9b \xc3 \xed\xa0\x80", "bad \\x9B \\xC3 \\xED\\xA0\\x80"},
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(Shown(text), shown);
}
