#include "system/ConvertUTF.h"

#include "system/Iconv_test.h"

#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

// The UTF-16 routines, which the system does not call, are compared with iconv
// over every scalar value here, and their refusals case by case; the
// full-range UTF-8 comparison is in SysStringHelper_test.cpp.

namespace {

using Bytes = std::vector<UTF8>;
using Points = std::vector<UTF32>;
using Units = std::vector<UTF16>;

Bytes Hex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<UTF8>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// One conversion call: its result, the source units it consumed and what
// it wrote into a target of `room` units.
template <typename Out>
struct Converted {
  ConversionResult result;
  size_t consumed;
  std::vector<Out> out;
  bool operator==(const Converted&) const = default;
};

template <typename In, typename Out>
Converted<Out> Convert(ConversionResult (*convert)(const In**, const In*, Out**, Out*,
                                                   ConversionFlags),
                       const std::vector<In>& in, size_t room, ConversionFlags flags) {
  std::vector<Out> out(room + 1);
  const In* src = in.data();
  Out* dst = out.data();
  const ConversionResult r = convert(&src, in.data() + in.size(), &dst, out.data() + room, flags);
  out.resize(static_cast<size_t>(dst - out.data()));
  return {r, static_cast<size_t>(src - in.data()), out};
}

TEST(ConvertUTFTest, TrailingBytesFollowTheLeadByte) {
  // Lead bytes 11..10xxxxx announce (leading ones - 1) continuation bytes;
  // FE and FF, which RFC 3629 never uses, sit with the 6-byte leads.
  for (int b = 0; b < 256; ++b) {
    const int ones = std::countl_one(static_cast<unsigned char>(b));
    EXPECT_EQ(b < 0xC0 ? 0 : (b >= 0xFE ? 5 : ones - 1), trailingBytesForUTF8[b]) << b;
  }
}

// Whatever stops a conversion, the source is left at the start of the
// character that stopped it.
TEST(ConvertUTFTest, ResultCodesAndWhereTheSourceStops) {
  using Encoded = Converted<UTF8>;
  for (UTF32 bad : {0xD800u, 0xDBFFu, 0xDC00u, 0xDFFFu}) {
    EXPECT_EQ((Encoded{sourceIllegal, 1, Hex("41")}),
              Convert(ConvertUTF32toUTF8, Points{0x41, bad, 0x42}, 16, strictConversion))
        << std::hex << bad;
  }
  // Above U+10FFFF: U+FFFD, go on, report it in either mode.
  for (ConversionFlags flags : {strictConversion, lenientConversion}) {
    for (UTF32 bad : {0x110000u, 0xFFFFFFFFu}) {
      EXPECT_EQ((Encoded{sourceIllegal, 3, Hex("41efbfbd42")}),
                Convert(ConvertUTF32toUTF8, Points{0x41, bad, 0x42}, 16, flags))
          << std::hex << bad;
    }
  }
  EXPECT_EQ(
      (Encoded{sourceIllegal, 4, Hex("41efbfbdefbfbd42")}),
      Convert(ConvertUTF32toUTF8, Points{0x41, 0xD800, 0x110000, 0x42}, 16, lenientConversion));
  EXPECT_EQ((Encoded{conversionOK, 3, Hex("41efbfbd42")}),
            Convert(ConvertUTF32toUTF8, Points{0x41, 0xDFFF, 0x42}, 16, lenientConversion));
  // Target exhaustion after a replacement is what the caller hears.
  EXPECT_EQ((Encoded{targetExhausted, 2, Hex("41efbfbd")}),
            Convert(ConvertUTF32toUTF8, Points{0x41, 0x110000, 0x20AC}, 5, strictConversion));
  EXPECT_EQ((Encoded{targetExhausted, 1, Hex("41")}),
            Convert(ConvertUTF32toUTF8, Points{0x41, 0x20AC}, 3, strictConversion));

  using Decoded = Converted<UTF32>;
  EXPECT_EQ((Decoded{sourceExhausted, 1, {0x41}}),
            Convert(ConvertUTF8toUTF32, Hex("41e282"), 8, strictConversion));
  EXPECT_EQ((Decoded{targetExhausted, 1, {0x41}}),
            Convert(ConvertUTF8toUTF32, Hex("41e282ac"), 1, strictConversion));
  EXPECT_EQ((Decoded{conversionOK, 4, {0x41, 0x20AC}}),
            Convert(ConvertUTF8toUTF32, Hex("41e282ac"), 2, strictConversion));
  // Lenience only concerns code points: illegal UTF-8 stays illegal.
  for (ConversionFlags flags : {strictConversion, lenientConversion}) {
    EXPECT_EQ((Decoded{sourceIllegal, 1, {0x41}}),
              Convert(ConvertUTF8toUTF32, Hex("41c08042"), 8, flags));
  }
}

// The verdict and the decoder agree; the decoder stops before an illegal
// or cut-off sequence, converting nothing of it.
TEST(ConvertUTFTest, LegalAndIllegalSequences) {
  const struct {
    const char* hex;
    bool legal;
  } cases[] = {
      // The edges of each length and of the surrogate range.
      {"41", true}, {"00", true}, {"c280", true}, {"e0a080", true}, {"ed9fbf", true},
      {"f0908080", true}, {"f48fbfbf", true},
      // Stray continuation bytes and overlong forms.
      {"80", false}, {"bf", false}, {"c080", false}, {"c1bf", false}, {"e08080", false},
      {"e09fbf", false}, {"f0808080", false}, {"f08fbfbf", false},
      // Surrogates, values above U+10FFFF, lead bytes above F4, 5- and 6-byte forms.
      {"eda080", false}, {"edbfbf", false}, {"f4908080", false}, {"f5808080", false},
      {"f7bfbfbf", false}, {"f888808080", false}, {"fc8480808080", false},
      {"fe8080808080", false}, {"ff8080808080", false},
      // A continuation byte missing, or cut off by the end.
      {"c241", false}, {"e282c0", false}, {"c2", false}, {"e282", false}, {"f09f98", false},
  };
  for (const auto& c : cases) {
    const Bytes bytes = Hex(c.hex);
    EXPECT_EQ(c.legal, isLegalUTF8Sequence(bytes.data(), bytes.data() + bytes.size()) != 0)
        << c.hex;
    const Converted<UTF32> d = Convert(ConvertUTF8toUTF32, bytes, 4, strictConversion);
    EXPECT_EQ(c.legal, d.result == conversionOK) << c.hex;
    EXPECT_EQ(c.legal ? bytes.size() : 0u, d.consumed) << c.hex;
    EXPECT_EQ(c.legal ? 1u : 0u, d.out.size()) << c.hex;
    // The UTF-16 decoder shares the verdict; a 4-byte form gives a pair.
    const Converted<UTF16> units = Convert(ConvertUTF8toUTF16, bytes, 4, strictConversion);
    EXPECT_EQ(c.legal ? bytes.size() : 0u, units.consumed) << c.hex;
    EXPECT_EQ(c.legal ? (bytes.size() == 4 ? 2u : 1u) : 0u, units.out.size()) << c.hex;
  }
  const UTF8 byte = 0x41;
  EXPECT_FALSE(isLegalUTF8Sequence(&byte, &byte)) << "empty";
}

// Unpaired surrogates in both modes, a high surrogate at the very end,
// values above U+10FFFF and a target too small for a pair.
TEST(ConvertUTF16Test, SurrogateRulesAndResultCodes) {
  using To32 = Converted<UTF32>;
  using To16 = Converted<UTF16>;
  using To8 = Converted<UTF8>;
  for (const Units& lone : {Units{0x41, 0xD800, 0x42}, Units{0x41, 0xDC00, 0x42},
                            Units{0x41, 0xDBFF, 0xDBFF, 0x42}}) {
    SCOPED_TRACE(::testing::PrintToString(lone));
    EXPECT_EQ((To32{sourceIllegal, 1, {0x41}}),
              Convert(ConvertUTF16toUTF32, lone, 8, strictConversion));
    EXPECT_EQ((To8{sourceIllegal, 1, Hex("41")}),
              Convert(ConvertUTF16toUTF8, lone, 16, strictConversion));
    // Lenient: the surrogate passes through unchanged.
    const To32 through = Convert(ConvertUTF16toUTF32, lone, 8, lenientConversion);
    EXPECT_EQ(conversionOK, through.result);
    EXPECT_EQ(Points(lone.begin(), lone.end()), through.out);
  }
  EXPECT_EQ((To8{conversionOK, 3, Hex("41eda08042")}),
            Convert(ConvertUTF16toUTF8, Units{0x41, 0xD800, 0x42}, 16, lenientConversion));
  for (ConversionFlags flags : {strictConversion, lenientConversion}) {
    EXPECT_EQ((To32{sourceExhausted, 1, {0x41}}),
              Convert(ConvertUTF16toUTF32, Units{0x41, 0xD83D}, 8, flags));
    EXPECT_EQ((To8{sourceExhausted, 1, Hex("41")}),
              Convert(ConvertUTF16toUTF8, Units{0x41, 0xD83D}, 8, flags));
    EXPECT_EQ((To16{sourceIllegal, 3, {0x41, 0xFFFD, 0x42}}),
              Convert(ConvertUTF32toUTF16, Points{0x41, 0x110000, 0x42}, 8, flags));
    EXPECT_EQ((To16{sourceIllegal, 1, {0x41}}),
              Convert(ConvertUTF8toUTF16, Hex("41eda08042"), 8, flags));  // encoded surrogate
  }
  EXPECT_EQ((To16{sourceIllegal, 1, {0x41}}),
            Convert(ConvertUTF32toUTF16, Points{0x41, 0xDC00, 0x42}, 8, strictConversion));
  EXPECT_EQ((To16{conversionOK, 3, {0x41, 0xFFFD, 0x42}}),
            Convert(ConvertUTF32toUTF16, Points{0x41, 0xDC00, 0x42}, 8, lenientConversion));
  // A pair needs two units: nothing of it is written into one.
  EXPECT_EQ((To16{targetExhausted, 1, {0x41}}),
            Convert(ConvertUTF32toUTF16, Points{0x41, 0x1F600}, 2, strictConversion));
  EXPECT_EQ((To16{targetExhausted, 1, {0x41}}),
            Convert(ConvertUTF8toUTF16, Hex("41f09f9880"), 2, strictConversion));
  EXPECT_EQ((To8{targetExhausted, 1, Hex("41")}),
            Convert(ConvertUTF16toUTF8, Units{0x41, 0xD83D, 0xDE00}, 4, strictConversion));
  EXPECT_EQ((To32{targetExhausted, 1, {0x41}}),
            Convert(ConvertUTF16toUTF32, Units{0x41, 0xD83D, 0xDE00}, 1, strictConversion));
}

TEST(ConvertUTF16Test, EveryScalarValueAgreesWithIconv) {
  Points all;
  for (UTF32 cp = 0; cp <= 0x10FFFF; ++cp)
    if (cp < 0xD800 || cp > 0xDFFF) all.push_back(cp);
  const Converted<UTF16> utf16 = Convert(ConvertUTF32toUTF16, all, all.size() * 2, strictConversion);
  ASSERT_EQ(conversionOK, utf16.result);
  ASSERT_EQ(Iconv(kUtf16, kWide, AsBytes(all)), AsBytes(utf16.out));

  const Converted<UTF8> utf8 = Convert(ConvertUTF16toUTF8, utf16.out, all.size() * 4, strictConversion);
  ASSERT_EQ(conversionOK, utf8.result);
  ASSERT_EQ(Iconv("UTF-8", kUtf16, AsBytes(utf16.out)), AsBytes(utf8.out));

  EXPECT_EQ(all, Convert(ConvertUTF16toUTF32, utf16.out, all.size(), strictConversion).out);
  const Converted<UTF16> again = Convert(ConvertUTF8toUTF16, utf8.out, utf16.out.size(), strictConversion);
  EXPECT_EQ(conversionOK, again.result);
  EXPECT_EQ(utf16.out, again.out);
}

}  // namespace
