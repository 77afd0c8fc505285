#include "encryption/Base64.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "encryption/BaseCodec_test.h"
#include "encryption/OpenSslBlowfish_test.h"

namespace {

TEST(Base64, Rfc4648VectorsWithAndWithoutPadding) {
  for (const auto& v : basecodec::kRfc4648) {
    const char *bytes = v[0], *text = v[3];
    EXPECT_EQ(Base64::encode(bytes), text);
    // Into a buffer (filled with a byte that is no Base64 character first).
    const std::string in = bytes;
    std::string into(Base64::EncodedSize(in.size()), '*');
    Base64::encode(reinterpret_cast<const unsigned char*>(in.data()), in.size(), into.data());
    EXPECT_EQ(into, text);
    EXPECT_EQ(Base64::decode(text), bytes);
    std::string unpadded = text;
    unpadded.erase(unpadded.find_last_not_of('=') + 1);
    EXPECT_EQ(Base64::decode(unpadded), bytes) << unpadded;
  }
}

TEST(Base64, RoundTripsBinaryAgainstOpenSsl) {
  std::mt19937 rng(1);
  for (std::size_t n = 0; n < 300; ++n) {
    std::string bytes(n, '\0');
    for (auto& c : bytes) c = static_cast<char>(rng());
    const std::string expected = vello_test::OpenSslBase64({bytes.begin(), bytes.end()});
    const std::string text = Base64::encode(bytes);
    ASSERT_EQ(text, expected) << n;
    ASSERT_EQ(Base64::decode(text), bytes) << n;
  }
}

TEST(Base64, LenientDecodingConsequences) {
  const struct {
    const char* name;
    std::string text;
    std::string bytes;
  } cases[] = {
      // "=" in first or second place is just a byte outside the alphabet.
      {"fill first", "=AAAZm9v", std::string("\xFC\x00\x00", 3) + "foo"},
      {"fill second", "A=AAZm9v", std::string("\x03\xF0\x00", 3) + "foo"},
      // In third or fourth place it ends the whole text.
      {"fill third", "AA=AZm9v", std::string("\x00", 1)},
      {"fill fourth", "AAA=Zm9v", std::string("\x00\x00", 2)},
      {"padding mid-text", "Zg==Zm9v", "f"},
      // A line break is decoded as 255, not skipped; the text shifts.
      {"line break", "Zm9v\nYmFy", "foo\xFD\x89\x85\xCB"},
      // A lone last character meets the terminating zero (255).
      {"lone last", "Zm9vY", "foo\x63"},
      {"lone fill", "=", "\xFF"},
      {"zero byte", std::string("Zm9v\0\0\0\0", 8), "foo\xFF\xFF\xFF"},
  };
  for (const auto& c : cases) EXPECT_EQ(Base64::decode(c.text), c.bytes) << c.name;
}

std::string RandomLenientText(std::mt19937& rng, std::size_t n) {
  // Mostly alphabet, with "=", line breaks, zero bytes and high bytes.
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text(n, 'A');
  for (auto& c : text) {
    const unsigned r = rng() % 100;
    c = r < 2   ? '='
        : r < 4 ? '\n'
        : r < 5 ? '\0'
        : r < 6 ? static_cast<char>(0x80 + rng() % 128)
                : alphabet[rng() % 64];
  }
  return text;
}

// On arbitrary text: MaxDecodedSize is exact for a text of digits and
// bounds any other, and the decoder fed the text in pieces gives what
// decode gives (whose rules the table above pins), writing nothing past it.
TEST(Base64, DecoderInPiecesAgreesWithDecodeOnArbitraryText) {
  for (std::size_t n = 0; n < 64; ++n)
    EXPECT_EQ(Base64::decode(std::string(n, 'Q')).size(), Base64::MaxDecodedSize(n)) << n;
  std::mt19937 rng(2);
  for (int round = 0; round < 3000; ++round) {
    const std::string text = RandomLenientText(rng, rng() % 300);
    const std::string bytes = Base64::decode(text);
    ASSERT_LE(bytes.size(), Base64::MaxDecodedSize(text.size()));
    std::vector<unsigned char> out(Base64::MaxDecodedSize(text.size()) + 16, 0xEE);
    std::size_t written;
    {
      Base64::Decoder decoder(out.data());
      for (std::size_t at = 0, piece; at < text.size(); at += piece) {
        piece = std::min<std::size_t>(rng() % 90, text.size() - at);
        decoder.Feed(reinterpret_cast<const unsigned char*>(text.data()) + at, piece);
      }
      written = decoder.Finish();
    }
    ASSERT_EQ(std::string(out.begin(), out.begin() + written), bytes) << round;
    for (std::size_t i = written; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE) << round;
  }
}

}  // namespace
