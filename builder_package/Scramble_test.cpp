#include "builder_package/Scramble.h"

#include <gtest/gtest.h>

#include <vector>

#include "builder_package/RecordBytes_test.h"
#include "system/RandomBytes_test.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A vector worked out by hand, independent of the test helper's formula.
TEST(ScrambleTest, MasksEachByteWithLPlus33iPlusK) {
  unsigned char text[] = {'a', 'b', 'c'};
  Scramble::Apply(text, 3, Scramble::kProgram);
  EXPECT_EQ(Bytes(text, text + 3), (Bytes{0x1C, 0xFC, 0xDC}));
}

// Whole contents and contents taken in uneven pieces, out of place, match
// the formula, around and across the 256-byte period of the key stream.
TEST(ScrambleTest, WholeAndPiecewiseMatchTheFormula) {
  for (std::size_t n : {1u, 255u, 256u, 257u, 4099u, 70001u}) {
    SCOPED_TRACE(n);
    const Bytes plain = RandomBytes(n, static_cast<std::uint32_t>(n));
    for (int k : {Scramble::kProgram, Scramble::kKeyText, Scramble::kXul}) {
      const Bytes expected = recordbytes::Scrambled(plain, k);
      Bytes whole = plain;
      Scramble::Apply(whole.data(), static_cast<int>(n), k);
      EXPECT_EQ(whole, expected);

      Bytes pieces(n, 0);
      for (std::size_t at = 0, step = 1; at < n; at += step, step = step * 3 + 7) {
        const std::size_t count = std::min(step, n - at);
        Scramble::ApplyPiece(plain.data() + at, pieces.data() + at, count, static_cast<int>(n),
                             at, k);
      }
      EXPECT_EQ(pieces, expected);
    }
  }
}

}  // namespace
