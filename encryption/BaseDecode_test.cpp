#include "encryption/BaseDecode.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "encryption/BaseCodec_test.h"

namespace {

using namespace basecodec;

TEST(BaseDecodeTest, SizesAndTheirErrors) {
  using namespace BaseDecode;
  EXPECT_EQ(Base64DecodeGetLength(8), 6u);
  EXPECT_EQ(Base64DecodeGetLength(0), 0u);
  EXPECT_EQ(Base32DecodeGetLength(16), 10u);
  EXPECT_EQ(Base16DecodeGetLength(6), 3u);
  const struct {
    const Codec* codec;
    const char* text;
    const char* error;
  } errors[] = {
      {&kBase64, "Zg=", "Invalid source, size is not a multiple of 4"},
      {&kBase32, "MY=====", "Invalid source, size is not a multiple of 8"},
      {&kBase16, "666", "Invalid source, size is not a multiple of 2"},
  };
  for (const auto& e : errors) {
    const std::size_t size = std::strlen(e.text);
    EXPECT_EQ(ErrorOf([&] { e.codec->decodeLength(size); }), e.error);
    std::string out(size, '\x5a');
    EXPECT_EQ(ErrorOf([&] { e.codec->decode(out.data(), e.text, size); }), e.error);
  }
}

TEST(BaseDecodeTest, CaseRules) {
  EXPECT_EQ(Decode(kBase16, "666f6F"), "foo");
  EXPECT_EQ(Decode(kBase16, "abcdef"), Decode(kBase16, "ABCDEF"));
  EXPECT_EQ(Decode(kBase32, "mzxw6ytboi======"), "foobar");
  EXPECT_EQ(Decode(kBase32, "MzXw6YtB"), "fooba");
  EXPECT_EQ(Decode(kBase32, "abcdefghijklmnopqrstuvwxyz234567"),
            Decode(kBase32, "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567"));
  // Base64 letters of either case are different digits.
  EXPECT_EQ(Decode(kBase64, "zM9V"), "\xcc\xcf\x55");
}

TEST(BaseDecodeTest, NonCanonicalTextIsRefusedAndLeavesNoDecodedBytes) {
  const std::pair<const Codec*, std::vector<std::string>> malformed[] = {
      // Base64: characters outside the alphabet, 8-bit bytes, white space.
      {&kBase64,
       {"Zm9v\nYmF", "Zm9vYm-y", "Zm9vYm_y", "Zm9v\xc3\xa9==", "Zm9 ", std::string("Zm\0v", 4)}},
      // Base64: pads in the first two positions, a digit after a pad, pads
      // before the last group.
      {&kBase64, {"====", "Z===", "=m9v", "Zm=v", "Zg==Zm9v", "Zm8=Zm9v"}},
      // Base32: outside the alphabet (0, 1, 8, 9 and 8-bit bytes), bad runs.
      {&kBase32,
       {"MZXW6YT0", "MZXW6Y1B", "MZXW6YT\x80",
        "MZXW6Y==", "MZX=====", "M=======", "========", "MZXW6=YQ", "MY======MZXW6YTB"}},
      // Base16: outside the alphabet.
      {&kBase16, {"6G", "66 6", "6\xff", "=="}},
  };
  for (const auto& [codec, texts] : malformed) {
    for (const std::string& text : texts) {
      SCOPED_TRACE(std::string(codec->name) + " \"" + text + "\"");
      std::string out(codec->decodeLength(text.size()), '\x5a');
      const std::string error =
          ErrorOf([&] { codec->decode(out.data(), text.data(), text.size()); });
      EXPECT_EQ(error.rfind("Invalid source", 0), 0u) << error;
      // Whatever was decoded before the fault is cleared; the rest untouched.
      for (char c : out) EXPECT_TRUE(c == 0 || c == '\x5a');
    }
  }
}

TEST(BaseDecodeTest, EveryMutatedCharacterIsDecodedOrRefusedNeverOverrun) {
  // Fuzz-like sweep: each position of a valid text replaced by each byte.
  using namespace BaseEncode;
  const struct {
    const Codec* codec;
    const char* alphabet;  // digits and pad
    std::string valid;
  } texts[] = {{&kBase64, BASE64_TABLE, "Zm9vYmFy"},
               {&kBase64, BASE64_TABLE, "Zm9vYg=="},
               {&kBase32, BASE32_TABLE, "MZXW6YTBOI======"},
               {&kBase16, BASE16_TABLE, "666F6F"}};
  for (const auto& [codec, alphabet, valid] : texts) {
    for (std::size_t pos = 0; pos < valid.size(); ++pos) {
      for (int b = 0; b < 256; ++b) {
        std::string text = valid;
        text[pos] = static_cast<char>(b);
        try {
          std::string out = Decode(*codec, text);
          // Only alphabet characters are ever accepted, and the result
          // re-encodes to a text of the same length.
          const int digit = codec == &kBase64 ? b : std::toupper(b);
          EXPECT_TRUE(b != 0 && std::strchr(alphabet, digit) != nullptr)
              << codec->name << " accepted byte " << b;
          EXPECT_EQ(codec->encodeLength(out.size()), text.size());
        } catch (const std::runtime_error&) {
        }
      }
    }
  }
}

}  // namespace
