#include "system/SysStringHelper.h"

#include "system/Iconv_test.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

namespace {

CSysStringHelper& Helper() { return CSysStringHelper::GetSingleton(); }

std::wstring Wide(std::initializer_list<uint32_t> points) {
  std::wstring out;
  for (uint32_t cp : points) out.push_back(static_cast<wchar_t>(cp));
  return out;
}

TEST(SysStringHelperTest, NulCharactersAddNothing) {
  EXPECT_EQ("ab", Helper().ToUTF8(Wide({0, 0x61, 0, 0, 0x62, 0})));
  std::string out = "x";
  EXPECT_TRUE(Helper().NativeToUTF8(Wide({0x61, 0, 0x62}), out));
  EXPECT_EQ("xab", out) << "appends";
  EXPECT_EQ(L"ab", Helper().FromUTF8(std::string("a\0b", 3)));
}

TEST(SysStringHelperTest, ConversionStopsAtTheFirstUnconvertibleCharacter) {
  // Far enough from the start to lie beyond any fixed-size working buffer.
  const std::wstring prefix(3000, static_cast<wchar_t>(0x20AC));
  std::string expected = "prefix:";
  for (size_t i = 0; i < prefix.size(); ++i) expected += "\xe2\x82\xac";
  for (uint32_t bad : {0xD800u, 0xDFFFu, 0x110000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    const std::wstring text = prefix + Wide({bad, 0x62});
    EXPECT_EQ(expected.substr(7), Helper().ToUTF8(text)) << std::hex << bad;
    std::string out = "prefix:";
    EXPECT_FALSE(Helper().NativeToUTF8(text, out)) << std::hex << bad;
    EXPECT_EQ(expected, out) << "appends what converted before it";
  }
  EXPECT_EQ(prefix, Helper().FromUTF8(expected.substr(7) + "\xed\xa0\x80z"));
}

// Every scalar value (U+0000 aside) in one text, both ways.
TEST(SysStringHelperTest, AllScalarValuesAgreeWithIconv) {
  std::wstring text;
  for (uint32_t cp = 1; cp <= 0x10FFFF; ++cp)
    if (cp < 0xD800 || cp > 0xDFFF) text.push_back(static_cast<wchar_t>(cp));
  const std::string utf8 = Helper().ToUTF8(text);
  ASSERT_EQ(Iconv("UTF-8", kWide, AsBytes(text)), utf8);
  EXPECT_EQ(text, Helper().FromUTF8(utf8));
}

using List = std::vector<std::wstring>;

TEST(SysStringHelperTest, SplitByDelimiterTable) {
  struct Case {
    std::wstring text, delimiter;
    List before, after;
    bool result;
  };
  const Case cases[] = {
      {L"a,b,,c,", L",", {}, {L"a", L"b", L"", L"c", L""}, true},
      {L"abc", L",", {}, {L"abc"}, false},
      {L"abc", L",", {L"x"}, {L"x", L"abc"}, true},  // earlier entries count
      {L"aaa", L"aa", {}, {L"", L"a"}, true},        // from the left, no overlap
      {L"", L",", {}, {L""}, false},
      {L",", L",", {}, {L"", L""}, true},
      {L"a::b", L"::", {}, {L"a", L"b"}, true},
      {L"a,b", L"", {}, {L"a,b"}, false},  // empty delimiter: the whole text
  };
  for (const Case& c : cases) {
    List list = c.before;
    EXPECT_EQ(c.result, Helper().SplitByDelimiter(c.text, c.delimiter, list, false)) << c.text;
    EXPECT_EQ(c.after, list) << c.text;
    List same = c.before;
    Helper().SplitByDelimiter(c.text, c.delimiter, same, true);
    EXPECT_EQ(c.after, same) << "the bool changes nothing";
  }
  List byChar;
  EXPECT_TRUE(Helper().SplitByDelimiter(L"x;y", L';', byChar, false));
  EXPECT_EQ((List{L"x", L"y"}), byChar);
  List byNul;
  EXPECT_FALSE(Helper().SplitByDelimiter(L"x;y", L'\0', byNul, false));
  EXPECT_EQ(List{L"x;y"}, byNul);
}

TEST(SysStringHelperTest, JoinAndReplaceTables) {
  EXPECT_EQ(L"x, y, z", Helper().Join({L"x", L"y", L"z"}, L", "));
  EXPECT_EQ(L"x", Helper().Join({L"x"}, L", "));
  EXPECT_EQ(L"", Helper().Join({}, L", "));
  EXPECT_EQ(L",,", Helper().Join({L"", L"", L""}, L","));

  struct Case {
    std::wstring text, search, replacement, expected;
  };
  const Case cases[] = {
      {L"aaaa", L"aa", L"b", L"bb"},
      {L"aaa", L"aa", L"b", L"ba"},
      {L"a`b`", L"`", L"\\`", L"a\\`b\\`"},  // replacement is not searched again
      {L"abc", L"x", L"y", L"abc"},
      {L"abc", L"", L"y", L"abc"},  // empty search: unchanged, no endless loop
      {L"", L"a", L"b", L""},
      {L"abcabc", L"abc", L"", L""},
  };
  for (const Case& c : cases) {
    std::wstring text = c.text;
    Helper().Replace(text, c.search, c.replacement);
    EXPECT_EQ(c.expected, text) << c.text << " / " << c.search;
  }
}

TEST(SysStringHelperTest, NumberTables) {
  const std::pair<std::wstring, int> ints[] = {
      {L"  42abc", 42}, {L"-7", -7}, {L"abc", 0}, {L"", 0}, {L"+12", 12}, {L"0x10", 0},
      {L"2147483647", 2147483647}, {L"-2147483648", -2147483647 - 1},
      {L"2147483648", 2147483647}, {L"99999999999999999999", 2147483647},
      {L"-4294967296", -2147483647 - 1}};
  for (const auto& [text, value] : ints) EXPECT_EQ(value, Helper().ToInt(text)) << text;

  const std::pair<std::wstring, float> floats[] = {
      {L"1.5", 1.5f}, {L" -0.25x", -0.25f}, {L"abc", 0.0f}, {L"1e3", 1000.0f},
      {L"1e39", HUGE_VALF}, {L"-1e39", -HUGE_VALF}};
  for (const auto& [text, value] : floats) EXPECT_EQ(value, Helper().ToFloat(text)) << text;

  EXPECT_EQ(L"-5", Helper().FromInt(-5));
  EXPECT_EQ(L"-2147483648", Helper().FromInt(-2147483647 - 1));
  EXPECT_EQ(L"0.250000", Helper().FromFloat(0.25f));
  EXPECT_EQ(L"1.500000", Helper().FromFloat(1.5f));
  EXPECT_EQ(L"340282346638528859811704183484516925440.000000", Helper().FromFloat(FLT_MAX));
}

TEST(SysStringHelperTest, FormatGrowsAndNeverCuts) {
  EXPECT_EQ(L"7 of 9: x", Helper().Format(L"%d of %d: %ls", 7, 9, L"x"));
  const std::wstring longText(100000, L'q');
  EXPECT_EQ(L"<" + longText + L">", Helper().Format(L"<%ls>", longText.c_str()));
  EXPECT_EQ(L"", Helper().Format(L""));
  // A narrow argument the "C" locale cannot decode: no text rather than part.
  EXPECT_EQ(L"", Helper().Format(L"ok %s", "\xff"));
}

}  // namespace
