#include "encryption/BaseDecode.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>

#include "encryption/BaseEncode.h"

namespace {

using DecodeFn = std::size_t (*)(void*, const void*, std::size_t);
using LengthFn = std::size_t (*)(std::size_t);

struct Codec {
  const char* name;
  DecodeFn decode;
  LengthFn length;
  DecodeFn encode;
  LengthFn encode_length;
};

const Codec kBase16{"Base16", BaseDecode::Base16Decode, BaseDecode::Base16DecodeGetLength,
                    BaseEncode::Base16Encode, BaseEncode::Base16EncodeGetLength};
const Codec kBase32{"Base32", BaseDecode::Base32Decode, BaseDecode::Base32DecodeGetLength,
                    BaseEncode::Base32Encode, BaseEncode::Base32EncodeGetLength};
const Codec kBase64{"Base64", BaseDecode::Base64Decode, BaseDecode::Base64DecodeGetLength,
                    BaseEncode::Base64Encode, BaseEncode::Base64EncodeGetLength};

// Decodes into exactly GetLength bytes of room (so ASan sees any overrun).
std::string Decode(const Codec& c, const std::string& text) {
  std::size_t room = c.length(text.size());
  std::unique_ptr<unsigned char[]> out(new unsigned char[room + 1]);
  std::size_t n = c.decode(out.get(), text.data(), text.size());
  EXPECT_LE(n, room);
  return std::string(reinterpret_cast<char*>(out.get()), n);
}

std::string ErrorOf(const Codec& c, const std::string& text) {
  std::string out(text.size() + 8, '\x5a');
  try {
    c.decode(out.data(), text.data(), text.size());
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

struct Rfc4648Vector {
  const char* data;
  const char* base16;
  const char* base32;
  const char* base64;
};

// RFC 4648 section 10.
const Rfc4648Vector kRfc[] = {
    {"", "", "", ""},
    {"f", "66", "MY======", "Zg=="},
    {"fo", "666F", "MZXQ====", "Zm8="},
    {"foo", "666F6F", "MZXW6===", "Zm9v"},
    {"foob", "666F6F62", "MZXW6YQ=", "Zm9vYg=="},
    {"fooba", "666F6F6261", "MZXW6YTB", "Zm9vYmE="},
    {"foobar", "666F6F626172", "MZXW6YTBOI======", "Zm9vYmFy"},
};

TEST(BaseDecodeTest, Rfc4648Vectors) {
  for (const auto& v : kRfc) {
    EXPECT_EQ(Decode(kBase16, v.base16), v.data);
    EXPECT_EQ(Decode(kBase32, v.base32), v.data);
    EXPECT_EQ(Decode(kBase64, v.base64), v.data);
  }
}

TEST(BaseDecodeTest, ConstantsAndErrorTexts) {
  using namespace BaseDecode;
  EXPECT_EQ(BASE16_INPUT, 2u);
  EXPECT_EQ(BASE16_OUTPUT, 1u);
  EXPECT_EQ(BASE32_INPUT, 8u);
  EXPECT_EQ(BASE32_OUTPUT, 5u);
  EXPECT_EQ(BASE64_INPUT, 4u);
  EXPECT_EQ(BASE64_OUTPUT, 3u);
  EXPECT_STREQ(c_pszErrorInvalidParameter, "Invalid parameter");
  EXPECT_STREQ(c_pszErrorNotMultipleOf2, "Invalid source, size is not a multiple of 2");
  EXPECT_STREQ(c_pszErrorNotMultipleOf4, "Invalid source, size is not a multiple of 4");
  EXPECT_STREQ(c_pszErrorNotMultipleOf8, "Invalid source, size is not a multiple of 8");
}

TEST(BaseDecodeTest, TablesMapTheAlphabetsAndNothingElse) {
  using namespace BaseDecode;
  for (int c = 0; c < 128; ++c) {
    const char* p16 = std::strchr("0123456789ABCDEF", std::toupper(c));
    const char* p32 = std::strchr(BaseEncode::BASE32_TABLE, std::toupper(c));
    const char* p64 = std::strchr(BaseEncode::BASE64_TABLE, c);
    EXPECT_EQ(BASE16_TABLE[c], c && p16 ? p16 - "0123456789ABCDEF" : 0xFF) << c;
    EXPECT_EQ(BASE32_TABLE[c], c && p32 ? p32 - BaseEncode::BASE32_TABLE : 0xFF) << c;
    EXPECT_EQ(BASE64_TABLE[c], c && p64 ? p64 - BaseEncode::BASE64_TABLE : 0xFF) << c;
  }
  EXPECT_EQ(BASE32_TABLE['='], 32);
  EXPECT_EQ(BASE64_TABLE['='], 64);
}

TEST(BaseDecodeTest, GetLengthAndItsErrors) {
  using namespace BaseDecode;
  EXPECT_EQ(Base64DecodeGetLength(8), 6u);
  EXPECT_EQ(Base64DecodeGetLength(0), 0u);
  EXPECT_EQ(Base32DecodeGetLength(16), 10u);
  EXPECT_EQ(Base16DecodeGetLength(6), 3u);
  struct {
    LengthFn f;
    std::size_t size;
    const char* text;
  } errors[] = {
      {Base64DecodeGetLength, 6, "Invalid source, size is not a multiple of 4"},
      {Base32DecodeGetLength, 12, "Invalid source, size is not a multiple of 8"},
      {Base16DecodeGetLength, 3, "Invalid source, size is not a multiple of 2"},
  };
  for (const auto& e : errors) {
    try {
      e.f(e.size);
      ADD_FAILURE() << e.text;
    } catch (const std::runtime_error& ex) {
      EXPECT_STREQ(ex.what(), e.text);
    }
  }
  // The decode calls check the multiple too, after the pointers.
  EXPECT_EQ(ErrorOf(kBase64, "Zg="), "Invalid source, size is not a multiple of 4");
  EXPECT_EQ(ErrorOf(kBase32, "MY====="), "Invalid source, size is not a multiple of 8");
  EXPECT_EQ(ErrorOf(kBase16, "666"), "Invalid source, size is not a multiple of 2");
}

TEST(BaseDecodeTest, PaddingIsDiscountedByTheDecodeCall) {
  unsigned char out[3];
  EXPECT_EQ(BaseDecode::Base64Decode(out, "Zg==", 4), 1u);
  EXPECT_EQ(out[0], 'f');
  EXPECT_EQ(BaseDecode::Base64Decode(out, "Zm8=", 4), 2u);
  const char* base32[] = {"MZXW6YTB", "MZXW6YQ=", "MZXW6===", "MZXQ====", "MY======"};
  for (std::size_t pads = 0; pads < 5; ++pads) {
    unsigned char out5[5];
    EXPECT_EQ(BaseDecode::Base32Decode(out5, base32[pads], 8), 5 - pads);
  }
}

TEST(BaseDecodeTest, CaseRules) {
  EXPECT_EQ(Decode(kBase16, "666f6F"), "foo");
  EXPECT_EQ(Decode(kBase16, "abcdef"), Decode(kBase16, "ABCDEF"));
  EXPECT_EQ(Decode(kBase32, "mzxw6ytboi======"), "foobar");
  EXPECT_EQ(Decode(kBase32, "MzXw6YtB"), "fooba");
  // Base64 letters of either case are different digits.
  EXPECT_NE(Decode(kBase64, "Zm9v"), Decode(kBase64, "zM9V"));
  EXPECT_EQ(Decode(kBase64, "zM9V"), "\xcc\xcf\x55");
}

TEST(BaseDecodeTest, NullPointersAreInvalidEvenForSizeZero) {
  unsigned char buf[8];
  for (const Codec* c : {&kBase16, &kBase32, &kBase64}) {
    for (std::size_t size : {std::size_t{0}, std::size_t{3}}) {
      for (int which = 0; which < 2; ++which) {
        try {
          c->decode(which ? nullptr : buf, which ? "AAAA" : nullptr, size);
          ADD_FAILURE() << c->name << " accepted a null pointer";
        } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "Invalid parameter") << c->name;
        }
      }
    }
    EXPECT_EQ(c->decode(buf, "", 0), 0u);
  }
}

struct Malformed {
  const Codec* codec;
  std::string text;
};

void PrintTo(const Malformed& m, std::ostream* os) {
  *os << m.codec->name << " \"";
  for (unsigned char c : m.text) {
    if (c >= 32 && c < 127) {
      *os << c;
    } else {
      *os << "\\x" << std::hex << int(c) << std::dec;
    }
  }
  *os << "\"";
}

class BaseDecodeMalformedTest : public ::testing::TestWithParam<Malformed> {};

TEST_P(BaseDecodeMalformedTest, IsRefusedAndLeavesNoDecodedBytes) {
  const Malformed& m = GetParam();
  std::string out(m.codec->length(m.text.size()), '\x5a');
  try {
    m.codec->decode(out.data(), m.text.data(), m.text.size());
    ADD_FAILURE() << m.codec->name << " accepted \"" << m.text << "\"";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("Invalid source"), std::string::npos) << e.what();
  }
  // Whatever was decoded before the fault is cleared; the rest untouched.
  for (char c : out) EXPECT_TRUE(c == 0 || c == '\x5a');
}

const Malformed kMalformed[] = {
    // Base64: characters outside the alphabet, 8-bit bytes, white space.
    {&kBase64, "Zm9v\nYmF"},
    {&kBase64, "Zm9vYm-y"},
    {&kBase64, "Zm9vYm_y"},
    {&kBase64, "Zm9v\xc3\xa9=="},
    {&kBase64, "Zm9 "},
    {&kBase64, std::string("Zm\0v", 4)},
    // Base64: pads in the first two positions, a digit after a pad, pads
    // before the last group.
    {&kBase64, "===="},
    {&kBase64, "Z==="},
    {&kBase64, "=m9v"},
    {&kBase64, "Zm=v"},
    {&kBase64, "Zg==Zm9v"},
    {&kBase64, "Zm8=Zm9v"},
    // Base32: outside the alphabet (0, 1, 8, 9 and 8-bit bytes), bad runs.
    {&kBase32, "MZXW6YT0"},
    {&kBase32, "MZXW6Y1B"},
    {&kBase32, "MZXW6YT\x80"},
    {&kBase32, "MZXW6Y=="},
    {&kBase32, "MZX====="},
    {&kBase32, "M======="},
    {&kBase32, "========"},
    {&kBase32, "MZXW6=YQ"},
    {&kBase32, "MY======MZXW6YTB"},
    // Base16: outside the alphabet.
    {&kBase16, "6G"},
    {&kBase16, "66 6"},
    {&kBase16, "6\xff"},
    {&kBase16, "=="},
};

INSTANTIATE_TEST_SUITE_P(NonCanonical, BaseDecodeMalformedTest, ::testing::ValuesIn(kMalformed));

TEST(BaseDecodeTest, RandomBytesRoundTripThroughEveryCodec) {
  std::mt19937 rng(8);
  for (const Codec* c : {&kBase16, &kBase32, &kBase64}) {
    for (int trial = 0; trial < 300; ++trial) {
      std::string data(rng() % 300, '\0');
      for (auto& ch : data) ch = static_cast<char>(rng());
      std::string text(c->encode_length(data.size()), '\0');
      c->encode(text.data(), data.data(), data.size());
      ASSERT_EQ(Decode(*c, text), data) << c->name << " " << data.size();
    }
  }
}

TEST(BaseDecodeTest, EveryMutatedCharacterIsDecodedOrRefusedNeverOverrun) {
  // Fuzz-like sweep: each position of a valid text replaced by each byte.
  const std::string texts[] = {"Zm9vYmFy", "Zm9vYg==", "MZXW6YTBOI======", "666F6F"};
  const Codec* codecs[] = {&kBase64, &kBase64, &kBase32, &kBase16};
  for (int t = 0; t < 4; ++t) {
    for (std::size_t pos = 0; pos < texts[t].size(); ++pos) {
      for (int b = 0; b < 256; ++b) {
        std::string text = texts[t];
        text[pos] = static_cast<char>(b);
        try {
          std::string out = Decode(*codecs[t], text);
          // Only alphabet characters are ever accepted, and the result
          // re-encodes to a text of the same length.
          const char* alphabet = codecs[t] == &kBase64   ? BaseEncode::BASE64_TABLE
                                 : codecs[t] == &kBase32 ? BaseEncode::BASE32_TABLE
                                                         : BaseEncode::BASE16_TABLE;
          const int upper = codecs[t] == &kBase64 ? b : std::toupper(b);
          EXPECT_TRUE(b != 0 && std::strchr(alphabet, upper) != nullptr)
              << codecs[t]->name << " accepted byte " << b;
          EXPECT_EQ(codecs[t]->encode_length(out.size()), text.size());
        } catch (const std::runtime_error&) {
        }
      }
    }
  }
}

}  // namespace
