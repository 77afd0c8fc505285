#include "system/SysStringHelper.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "system/testsupport/IconvPeer.h"

namespace {

CSysStringHelper& Helper() { return CSysStringHelper::GetSingleton(); }

std::string Hex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::wstring Wide(std::initializer_list<uint32_t> points) {
  std::wstring out;
  for (uint32_t cp : points) out.push_back(static_cast<wchar_t>(cp));
  return out;
}

TEST(SysStringHelperTest, SingletonIsOneInstance) {
  EXPECT_EQ(&CSysStringHelper::GetSingleton(), &CSysStringHelper::GetSingleton());
}

TEST(SysStringHelperTest, ToUTF8EncodesEachLength) {
  EXPECT_EQ(Hex("61c3a9e282acf09f9880"), Helper().ToUTF8(Wide({0x61, 0xE9, 0x20AC, 0x1F600})));
  EXPECT_EQ("", Helper().ToUTF8(L""));
}

TEST(SysStringHelperTest, NulCharactersAddNoBytes) {
  EXPECT_EQ("ab", Helper().ToUTF8(Wide({0, 0x61, 0, 0, 0x62, 0})));
  std::string out = "x";
  EXPECT_TRUE(Helper().NativeToUTF8(Wide({0x61, 0, 0x62}), out));
  EXPECT_EQ("xab", out);
}

TEST(SysStringHelperTest, ConversionStopsAtTheFirstUnconvertibleCharacter) {
  for (uint32_t bad : {0xD800u, 0xDFFFu, 0x110000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    const std::wstring text = Wide({0x61, 0xE9, bad, 0x62});
    EXPECT_EQ(Hex("61c3a9"), Helper().ToUTF8(text)) << std::hex << bad;
    std::string out = "prefix:";
    EXPECT_FALSE(Helper().NativeToUTF8(text, out)) << std::hex << bad;
    EXPECT_EQ("prefix:" + Hex("61c3a9"), out) << "appends what converted before it";
  }
}

TEST(SysStringHelperTest, LongTextConvertsAcrossInternalChunks) {
  // Long enough to cross any fixed-size working buffer, with a bad
  // character far from the start.
  std::wstring text;
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    text.push_back(static_cast<wchar_t>(0x20AC));
    expected += Hex("e282ac");
  }
  EXPECT_EQ(expected, Helper().ToUTF8(text));
  EXPECT_EQ(text, Helper().FromUTF8(expected));
  text.push_back(static_cast<wchar_t>(0xD800));
  text.push_back(L'z');
  EXPECT_EQ(expected, Helper().ToUTF8(text));
  EXPECT_EQ(text.substr(0, 3000), Helper().FromUTF8(expected + Hex("eda080") + "z"));
}

TEST(SysStringHelperTest, TruncatedSequenceAtTheEndGivesThePrefix) {
  for (const char* tail : {"c2", "e282", "f09f98"})
    EXPECT_EQ(L"A", Helper().FromUTF8("A" + Hex(tail))) << tail;
  EXPECT_EQ(L"", Helper().FromUTF8(""));
}

TEST(SysStringHelperTest, DecodedNulAddsNothing) {
  EXPECT_EQ(L"ab", Helper().FromUTF8(std::string("a\0b", 3)));
}

// Every scalar value (U+0000 aside) against glibc's iconv, in both directions.
TEST(SysStringHelperTest, AllScalarValuesAgreeWithIconv) {
  const std::vector<uint32_t> points = VelloTest::AllScalarValuesFromOne();
  std::wstring text;
  text.reserve(points.size());
  for (uint32_t cp : points) text.push_back(static_cast<wchar_t>(cp));
  const auto peer = VelloTest::IconvConvert("UTF-8", "UTF-32LE", VelloTest::Utf32LeBytes(points));
  ASSERT_TRUE(peer.complete);
  const std::string utf8 = Helper().ToUTF8(text);
  ASSERT_EQ(peer.bytes, utf8);
  EXPECT_EQ(text, Helper().FromUTF8(utf8));
}

// Random byte strings rich in lead and boundary bytes: the decoded prefix
// must be what iconv decodes before its first complaint.
TEST(SysStringHelperTest, DecodingRandomBytesMatchesIconvPrefix) {
  static const unsigned char kInteresting[] = {
      0x01, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF,
      0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xF8, 0xFC, 0xFF};
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> pick(0, sizeof kInteresting - 1);
  std::uniform_int_distribution<int> any(1, 255);
  std::uniform_int_distribution<int> len(1, 12);
  for (int round = 0; round < 100000; ++round) {
    std::string input;
    for (int i = len(rng); i > 0; --i)
      input.push_back(static_cast<char>(round % 2 ? kInteresting[pick(rng)] : any(rng)));
    const auto peer = VelloTest::IconvConvert("UTF-32LE", "UTF-8", input);
    std::wstring expected;
    for (uint32_t cp : VelloTest::FromUtf32LeBytes(peer.bytes))
      expected.push_back(static_cast<wchar_t>(cp));
    ASSERT_EQ(expected, Helper().FromUTF8(input)) << ::testing::PrintToString(input);
  }
}

}  // namespace
