#include "builder_package/FileContent.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "builder_package/RecordBytes_test.h"
#include "system/RandomBytes_test.h"

namespace {

using recordbytes::Bytes;

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

}  // namespace
