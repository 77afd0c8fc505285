#include "system/ConvertUTF.h"

#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

#include "system/SysStringHelper.h"
#include "system/testsupport/IconvPeer.h"

namespace {

using Bytes = std::vector<UTF8>;

Bytes Hex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<UTF8>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

struct Utf8To32 {
  ConversionResult result;
  size_t consumed;
  std::vector<UTF32> points;
};

Utf8To32 Decode(const Bytes& in, size_t room, ConversionFlags flags = strictConversion) {
  std::vector<UTF32> out(room + 1, 0xDEADBEEF);
  const UTF8* src = in.data();
  UTF32* dst = out.data();
  const ConversionResult r = ConvertUTF8toUTF32(&src, in.data() + in.size(), &dst,
                                                out.data() + room, flags);
  out.resize(static_cast<size_t>(dst - out.data()));
  return {r, static_cast<size_t>(src - in.data()), out};
}

struct Utf32To8 {
  ConversionResult result;
  size_t consumed;
  Bytes bytes;
};

Utf32To8 Encode(const std::vector<UTF32>& in, size_t room, ConversionFlags flags = strictConversion) {
  Bytes out(room + 1, 0xAA);
  const UTF32* src = in.data();
  UTF8* dst = out.data();
  const ConversionResult r = ConvertUTF32toUTF8(&src, in.data() + in.size(), &dst,
                                                out.data() + room, flags);
  out.resize(static_cast<size_t>(dst - out.data()));
  return {r, static_cast<size_t>(src - in.data()), out};
}

TEST(ConvertUTFTest, ResultCodesAndFlagValues) {
  EXPECT_EQ(0, conversionOK);
  EXPECT_EQ(1, sourceExhausted);
  EXPECT_EQ(2, targetExhausted);
  EXPECT_EQ(3, sourceIllegal);
  EXPECT_EQ(0, strictConversion);
  EXPECT_EQ(1, lenientConversion);
  EXPECT_EQ(0xFFFDu, UNI_REPLACEMENT_CHAR);
  EXPECT_EQ(0x10FFFFu, UNI_MAX_LEGAL_UTF32);
}

TEST(ConvertUTFTest, TablesMatchTheEncodingRules) {
  // Lead bytes 11..10xxxxx announce (leading ones - 1) continuation bytes;
  // FE and FF, which RFC 3629 never uses, sit with the 6-byte leads.
  for (int b = 0; b < 256; ++b) {
    const int ones = std::countl_one(static_cast<unsigned char>(b));
    const int expected = b < 0xC0 ? 0 : (b >= 0xFE ? 5 : ones - 1);
    EXPECT_EQ(expected, trailingBytesForUTF8[b]) << std::hex << b;
  }
  const UTF32 offsets[6] = {0x00000000, 0x00003080, 0x000E2080,
                            0x03C82080, 0xFA082080, 0x82082080};
  const UTF8 marks[7] = {0x00, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(offsets[i], offsetsFromUTF8[i]) << i;
  for (int i = 0; i < 7; ++i) EXPECT_EQ(marks[i], firstByteMark[i]) << i;
}

TEST(ConvertUTFTest, StrictEncodingStopsBeforeSurrogatesAndValuesAboveMax) {
  for (UTF32 bad : {0xD800u, 0xDBFFu, 0xDC00u, 0xDFFFu, 0x110000u, 0xFFFFFFFFu}) {
    const Utf32To8 e = Encode({0x41, bad, 0x42}, 16);
    EXPECT_EQ(sourceIllegal, e.result) << std::hex << bad;
    EXPECT_EQ(1u, e.consumed) << "source left at the illegal value";
    EXPECT_EQ(Hex("41"), e.bytes);
  }
}

TEST(ConvertUTFTest, LenientEncodingReplacesSurrogatesAndValuesAboveMax) {
  const Utf32To8 e = Encode({0x41, 0xD800, 0x110000, 0x42}, 16, lenientConversion);
  EXPECT_EQ(conversionOK, e.result);
  EXPECT_EQ(4u, e.consumed);
  EXPECT_EQ(Hex("41efbfbdefbfbd42"), e.bytes);
}

TEST(ConvertUTFTest, EncodingTargetExhaustedLeavesSourceBeforeTheCharacter) {
  // 'A' fits; the euro sign needs 3 bytes and only 2 are left.
  const Utf32To8 e = Encode({0x41, 0x20AC}, 3);
  EXPECT_EQ(targetExhausted, e.result);
  EXPECT_EQ(1u, e.consumed);
  EXPECT_EQ(Hex("41"), e.bytes);
}

TEST(ConvertUTFTest, DecodingResultCodes) {
  // Cut off by the end of the source.
  Utf8To32 d = Decode(Hex("41e282"), 8);
  EXPECT_EQ(sourceExhausted, d.result);
  EXPECT_EQ(1u, d.consumed);
  EXPECT_EQ(std::vector<UTF32>{0x41}, d.points);
  // No room for the second character: the source stays before it.
  d = Decode(Hex("41e282ac"), 1);
  EXPECT_EQ(targetExhausted, d.result);
  EXPECT_EQ(1u, d.consumed);
  EXPECT_EQ(std::vector<UTF32>{0x41}, d.points);
  // Illegal in both modes: lenience only concerns code points.
  for (ConversionFlags flags : {strictConversion, lenientConversion}) {
    d = Decode(Hex("41c08042"), 8, flags);
    EXPECT_EQ(sourceIllegal, d.result);
    EXPECT_EQ(1u, d.consumed);
    EXPECT_EQ(std::vector<UTF32>{0x41}, d.points);
  }
  d = Decode(Hex("41e282ac"), 2);
  EXPECT_EQ(conversionOK, d.result);
  EXPECT_EQ((std::vector<UTF32>{0x41, 0x20AC}), d.points);
}

struct SequenceCase {
  const char* name;
  const char* hex;
  bool legal;
  friend void PrintTo(const SequenceCase& c, std::ostream* os) { *os << c.name; }
};

class LegalSequenceTest : public ::testing::TestWithParam<SequenceCase> {};

// The verdict, the decoder and the wide-string helper agree: an illegal or
// cut-off sequence ends the text, leaving the prefix before it.
TEST_P(LegalSequenceTest, VerdictDecoderAndHelperAgree) {
  const SequenceCase& c = GetParam();
  const Bytes bytes = Hex(c.hex);
  EXPECT_EQ(c.legal, isLegalUTF8Sequence(bytes.data(), bytes.data() + bytes.size()) != 0);
  const Utf8To32 d = Decode(bytes, 4);
  if (c.legal) {
    EXPECT_EQ(conversionOK, d.result);
    EXPECT_EQ(bytes.size(), d.consumed);
  } else {
    EXPECT_NE(conversionOK, d.result);
    EXPECT_EQ(0u, d.consumed);
    EXPECT_TRUE(d.points.empty());
    const std::string input = "A" + std::string(bytes.begin(), bytes.end()) + "B";
    std::wstring out = L"old";
    EXPECT_TRUE(CSysStringHelper::GetSingleton().UTF8ToNative(input, out));
    EXPECT_EQ(L"A", out);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, LegalSequenceTest,
    ::testing::Values(
        SequenceCase{"Ascii", "41", true}, SequenceCase{"Nul", "00", true},
        SequenceCase{"TwoByte", "c280", true}, SequenceCase{"ThreeByteLow", "e0a080", true},
        SequenceCase{"BeforeSurrogates", "ed9fbf", true},
        SequenceCase{"FourByteLow", "f0908080", true}, SequenceCase{"Max", "f48fbfbf", true},
        SequenceCase{"StrayContinuation", "80", false},
        SequenceCase{"StrayContinuationHigh", "bf", false},
        SequenceCase{"OverlongC0", "c080", false}, SequenceCase{"OverlongC1", "c1bf", false},
        SequenceCase{"OverlongE0", "e08080", false},
        SequenceCase{"OverlongE0High", "e09fbf", false},
        SequenceCase{"OverlongF0", "f0808080", false},
        SequenceCase{"OverlongF0High", "f08fbfbf", false},
        SequenceCase{"SurrogateHigh", "eda080", false},
        SequenceCase{"SurrogateLow", "edbfbf", false},
        SequenceCase{"AboveMax", "f4908080", false}, SequenceCase{"LeadF5", "f5808080", false},
        SequenceCase{"LeadF7", "f7bfbfbf", false}, SequenceCase{"FiveByte", "f888808080", false},
        SequenceCase{"SixByte", "fc8480808080", false},
        SequenceCase{"LeadFE", "fe8080808080", false},
        SequenceCase{"LeadFF", "ff8080808080", false},
        SequenceCase{"ContinuationNotTrail", "c241", false},
        SequenceCase{"ThirdNotTrail", "e282c0", false},
        SequenceCase{"TruncatedTwo", "c2", false}, SequenceCase{"TruncatedThree", "e282", false},
        SequenceCase{"TruncatedFour", "f09f98", false}),
    [](const ::testing::TestParamInfo<SequenceCase>& info) { return info.param.name; });

TEST(ConvertUTFTest, EmptySequenceIsNotLegal) {
  const UTF8 byte = 0x41;
  EXPECT_FALSE(isLegalUTF8Sequence(&byte, &byte));
}

// Every scalar value, converted in one call each way, against glibc's iconv.
TEST(ConvertUTFTest, AllScalarValuesRoundTripAgainstIconv) {
  std::vector<UTF32> points = VelloTest::AllScalarValuesFromOne();
  points.insert(points.begin(), 0);
  const auto peer = VelloTest::IconvConvert("UTF-8", "UTF-32LE", VelloTest::Utf32LeBytes(points));
  ASSERT_TRUE(peer.complete);

  const Utf32To8 e = Encode(points, points.size() * 4);
  ASSERT_EQ(conversionOK, e.result);
  ASSERT_EQ(Bytes(peer.bytes.begin(), peer.bytes.end()), e.bytes);

  const Utf8To32 d = Decode(e.bytes, points.size());
  ASSERT_EQ(conversionOK, d.result);
  EXPECT_EQ(points, d.points);
}

}  // namespace
