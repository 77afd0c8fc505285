#include "builder_package/FileContent.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "builder_package/RecordBytes_test.h"
#include "system/SysFile.h"
#include "system/TempDir_test.h"

namespace {

using recordbytes::Bytes;

// A compressed item inflates a piece at a time to exactly its recorded
// size: a stream that ends sooner or goes on longer, or is damaged, fails
// at the piece where that shows. Pieces asked out of order still come right.
TEST(FileContentTest, CompressedItemsInflateToExactlyTheirRecordedSize) {
  const Bytes plain = recordbytes::Words(5, 300000);
  const int k = 182;
  Bytes stored = recordbytes::Scrambled(recordbytes::Compressed(plain, 9), k);
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
    const int fd = open("/dev/null", O_WRONLY);
    EXPECT_EQ(content.WriteTo(fd) == FileContent::WriteResult::written, c.whole);
    close(fd);
    const std::string expected = c.whole ? "" : "does not inflate to its recorded " + std::to_string(c.recorded) +
                                                    " bytes (" + std::to_string(packed) + " packed)";
    EXPECT_EQ(content.Problem(), expected);
  }
  const FileContent content = FileContent::Inflated(stored.data(), packed, 300000, k);
  unsigned char scratch[1000];
  for (std::size_t at : {200000u, 1000u, 299000u, 0u}) {
    const unsigned char* piece = content.Piece(at, 1000, scratch);
    ASSERT_NE(piece, nullptr) << at;
    EXPECT_TRUE(std::equal(piece, piece + 1000, plain.begin() + static_cast<long>(at))) << at;
  }
}

// A scrambled item, held or left in the file, comes out plain from any
// offset: a write cut short goes on from where it stopped.
TEST(FileContentTest, ScrambledItemsComeOutPlainFromAnyOffset) {
  const Bytes plain = recordbytes::Words(3, 1000);
  const Bytes stored = recordbytes::Scrambled(plain, 122);
  Bytes record(5, 0);  // the item at offset 5 of its file
  recordbytes::Append(record, stored);
  TempDir dir;
  CSysFile file;
  ASSERT_TRUE(file.Open(dir.Put("item", record), L"rb"));
  unsigned char scratch[100];
  for (const FileContent& content : {FileContent::Descrambled(stored.data(), 1000, 122),
                                     FileContent::DescrambledFromFile(file, 5, 1000, 122)}) {
    for (std::size_t at : {0u, 1u, 255u, 257u, 900u}) {
      const unsigned char* piece = content.Piece(at, 100, scratch);
      ASSERT_NE(piece, nullptr) << at;
      EXPECT_TRUE(std::equal(piece, piece + 100, plain.begin() + static_cast<long>(at))) << at;
    }
  }
}

}  // namespace
