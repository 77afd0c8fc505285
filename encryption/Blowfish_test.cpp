#include "encryption/Blowfish.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "encryption/Base64.h"
#include "encryption/OpenSslBlowfish_test.h"

using Vello::Encryption::Blowfish;
using vello_test::OpenSslBfEcb;
using vello_test::SwapHalves;

namespace {

std::vector<unsigned char> FromHex(const std::string& hex) {
  std::vector<unsigned char> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string AsString(const std::vector<unsigned char>& v) { return std::string(v.begin(), v.end()); }

std::vector<unsigned char> Encrypted(const Blowfish& bf, std::vector<unsigned char> data) {
  EXPECT_TRUE(bf.Encrypt(data.data(), static_cast<std::uint32_t>(data.size())));
  return data;
}

std::vector<unsigned char> RandomBytes(std::mt19937& rng, std::size_t n, bool nonZero = false) {
  std::vector<unsigned char> v(n);
  for (auto& b : v) {
    do b = static_cast<unsigned char>(rng()); while (nonZero && b == 0);
  }
  return v;
}

struct EcbVector {
  const char* key;
  const char* plain;
  const char* cipher;
};

// Published 64-bit-key ECB vectors (usual big-endian layout) whose keys
// hold no zero byte, so they pass through a zero-terminated key.
const EcbVector kEcbVectors[] = {
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
};

class BlowfishEcbVectors : public ::testing::TestWithParam<EcbVector> {};

TEST_P(BlowfishEcbVectors, MatchThroughLittleEndianHalves) {
  const EcbVector& v = GetParam();
  const std::string key = AsString(FromHex(v.key));
  Blowfish bf;
  bf.SetPassword(key.c_str());
  // Our layout: each 4-byte half reversed on the way in and out.
  EXPECT_EQ(SwapHalves(Encrypted(bf, SwapHalves(FromHex(v.plain)))), FromHex(v.cipher));
  // The independent peer agrees with the published table.
  EXPECT_EQ(OpenSslBfEcb(key, FromHex(v.plain)), FromHex(v.cipher));
  std::vector<unsigned char> back = SwapHalves(FromHex(v.cipher));
  ASSERT_TRUE(bf.Decrypt(back.data(), 8));
  EXPECT_EQ(SwapHalves(back), FromHex(v.plain));
}

INSTANTIATE_TEST_SUITE_P(Published, BlowfishEcbVectors, ::testing::ValuesIn(kEcbVectors));

TEST(Blowfish, AgreesWithOpenSslForKeysOf1To56BytesAndLongBuffers) {
  std::mt19937 rng(7);
  for (std::size_t keyLength = 1; keyLength <= 56; ++keyLength) {
    const std::string key = AsString(RandomBytes(rng, keyLength, true));
    // 40 blocks: the 4-block interleaved path and the single-block tail.
    const std::vector<unsigned char> plain = RandomBytes(rng, 8 * (keyLength % 11 + 1) + 8 * 32);
    Blowfish bf;
    bf.SetPassword(key.c_str());
    const std::vector<unsigned char> ours = Encrypted(bf, plain);
    ASSERT_EQ(SwapHalves(ours), OpenSslBfEcb(key, SwapHalves(plain))) << "key length " << keyLength;
    std::vector<unsigned char> back = ours;
    ASSERT_TRUE(bf.Decrypt(back.data(), static_cast<std::uint32_t>(back.size())));
    EXPECT_EQ(back, plain);
  }
}

TEST(Blowfish, SelfTestPassesAndLeavesSecondVectorKey) {
  Blowfish bf;
  EXPECT_EQ(bf.Test(), 0);
  Blowfish keyed;
  keyed.SetPassword("Who is John Galt?");
  const std::vector<unsigned char> block = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(Encrypted(bf, block), Encrypted(keyed, block));
}

TEST(Blowfish, SelfTestVectorsHoldForOpenSsl) {
  // Test()'s expected blocks, checked against the peer (usual layout).
  EXPECT_EQ(OpenSslBfEcb("abcdefghijklmnopqrstuvwxyz", FromHex("424C4F5746495348")),
            FromHex("324ED0FEF413A203"));
  EXPECT_EQ(OpenSslBfEcb("Who is John Galt?", FromHex("FEDCBA9876543210")),
            FromHex("CC91732B8022F684"));
}

TEST(Blowfish, EmptyKeyLeavesInitialTables) {
  // Mixing a key into the tables an empty key left gives OpenSSL's keyed
  // cipher only if those tables are exactly the initial ones.
  const std::string key = "0123456789abcdef";
  const std::vector<unsigned char> plain = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};
  for (const char* empty : {"", static_cast<const char*>(nullptr)}) {
    Blowfish bf;
    bf.SetPassword("something else first");
    bf.SetPassword(empty);
    bf.GenerateSubkeys(key.c_str());
    EXPECT_EQ(SwapHalves(Encrypted(bf, plain)), OpenSslBfEcb(key, SwapHalves(plain)));
  }
  Blowfish fresh;
  fresh.GenerateSubkeys(key.c_str());
  EXPECT_EQ(SwapHalves(Encrypted(fresh, plain)), OpenSslBfEcb(key, SwapHalves(plain)));
  // An unkeyed object enciphers with the initial tables, not with nothing.
  Blowfish unkeyed;
  EXPECT_NE(Encrypted(unkeyed, plain), plain);
}

TEST(Blowfish, KeysRepeatCyclicallyAndStopMatteringAfter72Bytes) {
  const std::vector<unsigned char> plain = {1, 1, 2, 3, 5, 8, 13, 21};
  Blowfish a, b;
  a.SetPassword("abc");
  b.SetPassword("abcabc");
  EXPECT_EQ(Encrypted(a, plain), Encrypted(b, plain));

  const std::string k72(72, 'x');
  std::string k71 = k72.substr(0, 71) + "y";
  a.SetPassword(k72.c_str());
  b.SetPassword((k72 + "anything after").c_str());
  EXPECT_EQ(Encrypted(a, plain), Encrypted(b, plain));
  b.SetPassword(k71.c_str());
  EXPECT_NE(Encrypted(a, plain), Encrypted(b, plain));
}

TEST(Blowfish, SetPasswordStartsOverButGenerateSubkeysAccumulates) {
  const std::vector<unsigned char> plain = {0, 1, 2, 3, 4, 5, 6, 7};
  Blowfish once, twice, mixed;
  once.SetPassword("key");
  twice.SetPassword("other");
  twice.SetPassword("key");
  EXPECT_EQ(Encrypted(once, plain), Encrypted(twice, plain));
  mixed.SetPassword("key");
  mixed.GenerateSubkeys("key");
  EXPECT_NE(Encrypted(once, plain), Encrypted(mixed, plain));
}

TEST(Blowfish, BadBuffersAreRefusedUntouched) {
  Blowfish bf;
  bf.SetPassword("k");
  unsigned char data[16];
  for (int i = 0; i < 16; ++i) data[i] = static_cast<unsigned char>(i);
  unsigned char copy[16];
  std::memcpy(copy, data, 16);
  EXPECT_FALSE(bf.Encrypt(data, 0));
  EXPECT_FALSE(bf.Encrypt(data, 12));
  EXPECT_FALSE(bf.Encrypt(nullptr, 8));
  EXPECT_FALSE(bf.Decrypt(data, 0));
  EXPECT_FALSE(bf.Decrypt(data, 12));
  EXPECT_FALSE(bf.Decrypt(nullptr, 8));
  EXPECT_EQ(std::memcmp(data, copy, 16), 0);
}

TEST(Blowfish, EcbHasNoChaining) {
  Blowfish bf;
  bf.SetPassword("ecb");
  std::vector<unsigned char> data = {1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3, 4, 5, 6, 7, 8};
  data = Encrypted(bf, data);
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 8, data.begin() + 8));
}

TEST(Blowfish, BlockFunctionsMatchBufferLayout) {
  Blowfish bf;
  bf.SetPassword("words");
  Blowfish::Word l = 0x04030201, r = 0x08070605;
  bf.BF_En(&l, &r);
  const std::vector<unsigned char> enc = Encrypted(bf, {1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(l, enc[0] | enc[1] << 8 | enc[2] << 16 | static_cast<Blowfish::Word>(enc[3]) << 24);
  EXPECT_EQ(r, enc[4] | enc[5] << 8 | enc[6] << 16 | static_cast<Blowfish::Word>(enc[7]) << 24);
  bf.BF_De(&l, &r);
  EXPECT_EQ(l, 0x04030201u);
  EXPECT_EQ(r, 0x08070605u);
}

std::string OpenSslBase64(const std::vector<unsigned char>& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(),
                                static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

TEST(Blowfish, EncryptStringPadsWithZerosToWholeBlocks) {
  Blowfish bf;
  bf.SetPassword("string key");
  for (const std::string text : {"12345678", "123456789"}) {
    std::string out;
    ASSERT_TRUE(bf.EncryptString(text.c_str(), out));
    std::vector<unsigned char> padded(text.begin(), text.end());
    padded.resize((text.size() + 7) / 8 * 8, 0);
    EXPECT_EQ(out.size(), text.size() == 8 ? 12u : 24u);
    EXPECT_EQ(out, OpenSslBase64(SwapHalves(OpenSslBfEcb("string key", SwapHalves(padded)))));

    std::string back = "old";
    ASSERT_TRUE(bf.DecryptString(out.c_str(), back));
    EXPECT_EQ(back, std::string(padded.begin(), padded.end()));
  }
}

TEST(Blowfish, StringsRefuseEmptyAndBadInputLeavingOutput) {
  Blowfish bf;
  std::string out = "kept";
  EXPECT_FALSE(bf.EncryptString("", out));
  EXPECT_FALSE(bf.EncryptString(nullptr, out));
  EXPECT_FALSE(bf.DecryptString("", out));
  EXPECT_FALSE(bf.DecryptString(nullptr, out));
  EXPECT_FALSE(bf.DecryptString("AAAA", out));      // 3 bytes
  EXPECT_FALSE(bf.DecryptString("AA==AAAA", out));  // stops after 1 byte
  EXPECT_EQ(out, "kept");
}

}  // namespace
