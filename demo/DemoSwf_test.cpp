#include "demo/DemoSwf.h"

#include <gtest/gtest.h>

#include <string>

#include "demo/SwfReader_test.h"

namespace {

// Walks a DefineShape body; returns false unless it is well formed to its
// last byte and its one path is closed. Fills color with the solid fill.
bool CheckSquareShape(const std::vector<unsigned char>& body, Rgb& color, SwfRect& bounds) {
  SwfBitReader r(body.data(), body.size());
  if (r.Little(2) != 1) return false;  // shape id
  bounds = r.Rect();
  if (r.Little(1) != 1 || r.Little(1) != 0x00) return false;  // one solid fill
  color = Rgb{static_cast<std::uint8_t>(r.Little(1)), static_cast<std::uint8_t>(r.Little(1)),
              static_cast<std::uint8_t>(r.Little(1))};
  if (r.Little(1) != 0) return false;  // no line styles
  const int fillBits = static_cast<int>(r.Unsigned(4));
  const int lineBits = static_cast<int>(r.Unsigned(4));
  int x = 0, y = 0, edges = 0;
  for (;;) {
    if (r.Unsigned(1) == 0) {  // style change or end
      const std::uint32_t flags = r.Unsigned(5);
      if (flags == 0) break;
      if (flags & 0x10) return false;  // new styles: not used here
      if (flags & 0x01) {
        const int bits = static_cast<int>(r.Unsigned(5));
        x = r.Signed(bits);
        y = r.Signed(bits);
      }
      if (flags & 0x02) r.Unsigned(fillBits);
      if (flags & 0x04) r.Unsigned(fillBits);
      if (flags & 0x08) r.Unsigned(lineBits);
    } else {
      if (r.Unsigned(1) != 1) return false;  // only straight edges
      const int bits = static_cast<int>(r.Unsigned(4)) + 2;
      if (r.Unsigned(1) == 1) {
        x += r.Signed(bits);
        y += r.Signed(bits);
      } else if (r.Unsigned(1) == 1) {
        y += r.Signed(bits);
      } else {
        x += r.Signed(bits);
      }
      ++edges;
    }
    if (!r.ok()) return false;
  }
  r.Align();
  return r.ok() && r.atEnd() && edges == 4 && x == 0 && y == 0;
}

struct Placement {
  int flags, depth, character, x, y;
};

bool ReadPlacement(const std::vector<unsigned char>& body, Placement& p) {
  SwfBitReader r(body.data(), body.size());
  p.flags = static_cast<int>(r.Little(1));
  p.depth = static_cast<int>(r.Little(2));
  p.character = (p.flags & 0x02) ? static_cast<int>(r.Little(2)) : 0;
  if ((p.flags & ~0x07) != 0 || (p.flags & 0x04) == 0) return false;  // only matrix placements
  r.Align();
  if (r.Unsigned(1) != 0 || r.Unsigned(1) != 0) return false;  // no scale, no rotation
  const int bits = static_cast<int>(r.Unsigned(5));
  p.x = r.Signed(bits);
  p.y = r.Signed(bits);
  r.Align();
  return r.ok() && r.atEnd();
}

class DemoSwfTest : public ::testing::TestWithParam<const DemoSwfStyle*> {};

TEST_P(DemoSwfTest, IsAWellFormedMovie) {
  const DemoSwfStyle& style = *GetParam();
  const std::vector<unsigned char> bytes = MakeDemoSwf(style);
  std::string error;
  const std::optional<SwfFile> swf = ReadSwf(bytes, error);
  ASSERT_TRUE(swf.has_value()) << error;

  EXPECT_EQ(swf->version, kDemoSwfVersion);
  EXPECT_EQ(swf->frameSize.xMin, 0);
  EXPECT_EQ(swf->frameSize.xMax, kDemoStageWidth * 20);
  EXPECT_EQ(swf->frameSize.yMin, 0);
  EXPECT_EQ(swf->frameSize.yMax, kDemoStageHeight * 20);
  EXPECT_EQ(swf->frameSize.bits, 15);  // 11000 twips needs 15 signed bits
  EXPECT_EQ(swf->frameRate, kDemoFrameRate);
  EXPECT_EQ(swf->frameCount, style.frames);
  EXPECT_GE(bytes.size(), 50u);
  EXPECT_LE(bytes.size(), 1000u);

  // FileAttributes first, as version 8 and later require, then the
  // background, the shape, one placement per frame, and End.
  const std::vector<SwfTag>& tags = swf->tags;
  ASSERT_EQ(tags.size(), 3u + 2u * style.frames + 1u);
  EXPECT_EQ(tags[0].code, 69);
  EXPECT_EQ(tags[0].body, (std::vector<unsigned char>{0, 0, 0, 0}));
  EXPECT_EQ(tags[1].code, 9);
  EXPECT_EQ(tags[1].body,
            (std::vector<unsigned char>{style.background.red, style.background.green,
                                        style.background.blue}));
  ASSERT_EQ(tags[2].code, 2);
  Rgb fill{};
  SwfRect bounds{};
  EXPECT_TRUE(CheckSquareShape(tags[2].body, fill, bounds));
  EXPECT_EQ(fill.red, style.square.red);
  EXPECT_EQ(fill.green, style.square.green);
  EXPECT_EQ(fill.blue, style.square.blue);
  EXPECT_EQ(bounds.xMax, kDemoSquareSize * 20);
  EXPECT_EQ(bounds.yMax, kDemoSquareSize * 20);

  int lastX = -1;
  for (int frame = 0; frame < style.frames; ++frame) {
    const SwfTag& place = tags[3 + 2 * frame];
    ASSERT_EQ(place.code, 26) << "frame " << frame;
    Placement p{};
    ASSERT_TRUE(ReadPlacement(place.body, p)) << "frame " << frame;
    EXPECT_EQ(p.depth, 1);
    EXPECT_EQ(p.flags, frame == 0 ? 0x06 : 0x05);
    if (frame == 0) {
      EXPECT_EQ(p.character, 1);
    }
    EXPECT_GT(p.x, lastX);  // the square slides right
    EXPECT_LE(p.x + kDemoSquareSize * 20, kDemoStageWidth * 20);
    EXPECT_EQ(p.y, (kDemoStageHeight - kDemoSquareSize) / 2 * 20);
    lastX = p.x;
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

TEST(DemoSwf, HeaderBytesOfTheMainProgram) {
  // Signature, version 10, length, then the RECT: 5 bits of 15, then
  // 0, 11000, 0, 8000 in 15 bits each (65 bits, 9 bytes), then 30 fps.
  const std::vector<unsigned char> bytes = MakeDemoSwf(kDemoMain);
  ASSERT_GE(bytes.size(), 21u);
  const std::uint32_t n = static_cast<std::uint32_t>(bytes.size());
  const std::vector<unsigned char> head(bytes.begin(), bytes.begin() + 21);
  const std::vector<unsigned char> expected = {
      'F', 'W', 'S', 10, static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8), 0, 0,
      // 01111 000000000000000 010101011111000 000000000000000 001111101000000 0000000
      0x78, 0x00, 0x05, 0x5F, 0x00, 0x00, 0x0F, 0xA0, 0x00,
      0x00, 0x1E,  // 30.0 frames per second
      30, 0};
  EXPECT_EQ(head, expected);
}

}  // namespace
