#include "demo/DemoSwf.h"

#include <gtest/gtest.h>

#include <string>

#include "demo/SwfReader_test.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Expected bytes worked out by hand from the format's bit layout.

// A 2000-twip square: id 1, RECT of 12-bit fields, one solid fill of the
// colour, no line styles, then a move to the origin and four 12-bit edges.
Bytes SquareShape(const Rgb& c) {
  return {0x01, 0x00,  0x60,    0x00,   0x3E, 0x80, 0x00, 0x3E, 0x80, 0x01,
          0x00, c.red, c.green, c.blue, 0x00, 0x10, 0x14, 0x27, 0xA1, 0xF4,
          0x3A, 0x5F,  0x43,    0xA2,   0x0C, 0x3A, 0x60, 0xC0, 0x00};
}

class DemoSwfTest : public ::testing::TestWithParam<const DemoSwfStyle*> {};

TEST_P(DemoSwfTest, IsAWellFormedMovie) {
  const DemoSwfStyle& style = *GetParam();
  std::string error;
  const std::optional<SwfFile> swf = ReadSwf(MakeDemoSwf(style), error);
  ASSERT_TRUE(swf.has_value()) << error;
  EXPECT_EQ(swf->version, kDemoSwfVersion);
  EXPECT_EQ(swf->frameCount, style.frames);

  // FileAttributes first, as version 8 and later require, then the
  // background, the shape, a placement and a ShowFrame per frame, and End.
  const std::vector<SwfTag>& tags = swf->tags;
  ASSERT_EQ(tags.size(), 3u + 2u * style.frames + 1u);
  EXPECT_EQ(tags[0].code, 69);
  EXPECT_EQ(tags[0].body, (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(tags[1].code, 9);
  EXPECT_EQ(tags[1].body,
            (Bytes{style.background.red, style.background.green, style.background.blue}));
  EXPECT_EQ(tags[2].code, 2);
  EXPECT_EQ(tags[2].body, SquareShape(style.square));
  for (int frame = 0; frame < style.frames; ++frame) {
    const Bytes& place = tags[3 + 2 * frame].body;
    EXPECT_EQ(tags[3 + 2 * frame].code, 26) << frame;
    // Placed at depth 1 once, then moved there.
    ASSERT_GE(place.size(), 3u);
    EXPECT_EQ(Bytes(place.begin(), place.begin() + 3),
              (Bytes{static_cast<unsigned char>(frame == 0 ? 0x06 : 0x05), 1, 0}));
    EXPECT_EQ(tags[4 + 2 * frame].code, 1);
    EXPECT_TRUE(tags[4 + 2 * frame].body.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, DemoSwfTest,
                         ::testing::Values(&kDemoMain, &kDemoPreview, &kDemoSettings),
                         [](const auto& info) {
                           const std::string name = info.param->fileName;
                           return name.substr(0, name.find('.'));
                         });

TEST(DemoSwf, HeaderAndPlacementBytes) {
  // Signature, version 10, length, then the RECT: 5 bits of 15, then
  // 0, 11000, 0, 8000 in 15 bits each (65 bits, 9 bytes), then 30 fps and
  // 30 frames.
  const Bytes main = MakeDemoSwf(kDemoMain);
  ASSERT_GE(main.size(), 21u);
  Bytes expected = {'F',  'W',  'S',  10,   0,    0,    0,    0,    0x78, 0x00, 0x05,
                    0x5F, 0x00, 0x00, 0x0F, 0xA0, 0x00, 0x00, 0x1E, 30,   0};
  expected[4] = static_cast<unsigned char>(main.size());  // the length, little-endian
  expected[5] = static_cast<unsigned char>(main.size() >> 8);
  EXPECT_EQ(Bytes(main.begin(), main.begin() + 21), expected);

  // The square starts at the left edge half-way down (0, 3000 twips) and
  // slides to the right edge (9000); a still picture shows it centred.
  std::string error;
  const std::optional<SwfFile> swf = ReadSwf(main, error);
  const std::optional<SwfFile> still = ReadSwf(MakeDemoSwf(kDemoSettings), error);
  ASSERT_TRUE(swf && still) << error;
  EXPECT_EQ(swf->tags.at(3).body, (Bytes{0x06, 1, 0, 1, 0, 0x1A, 0x00, 0x05, 0xDC, 0x00}));
  EXPECT_EQ(swf->tags.at(61).body, (Bytes{0x05, 1, 0, 0x1E, 0x8C, 0xA0, 0x5D, 0xC0}));
  EXPECT_EQ(still->tags.at(3).body, (Bytes{0x06, 1, 0, 1, 0, 0x1C, 0x8C, 0xA1, 0x77, 0x00}));
}

}  // namespace
