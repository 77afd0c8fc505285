#include "encryption/Blowfish.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "encryption/OpenSslBlowfish_test.h"

using Vello::Encryption::Blowfish;
using namespace vello_test;

namespace {

Bytes Encrypted(const Blowfish& bf, Bytes data) {
  EXPECT_TRUE(bf.Encrypt(data.data(), static_cast<std::uint32_t>(data.size())));
  return data;
}

Bytes Encrypted(const char* key, const Bytes& data) {
  Blowfish bf;
  bf.SetPassword(key);
  return Encrypted(bf, data);
}

// OpenSSL's ECB under a key given as text, in our block layout.
Bytes PeerEcb(const std::string& key, const Bytes& data) {
  return SwapHalves(OpenSslBf("BF-ECB", true, Bytes(key.begin(), key.end()), {}, SwapHalves(data)));
}

// The published vectors whose keys hold no zero byte, so they pass
// through a zero-terminated key.
TEST(Blowfish, PublishedVectorsThroughLittleEndianHalvesAndTheBlockFunctions) {
  for (const EcbVector& v : kEcbVectors) {
    const Bytes key = FromHex(v.key);
    if (std::find(key.begin(), key.end(), 0) != key.end()) continue;
    Blowfish bf;
    bf.SetPassword(std::string(key.begin(), key.end()).c_str());
    // Our layout: each 4-byte half reversed on the way in and out.
    EXPECT_EQ(SwapHalves(Encrypted(bf, SwapHalves(FromHex(v.plain)))), FromHex(v.cipher)) << v.key;
    Bytes back = SwapHalves(FromHex(v.cipher));
    ASSERT_TRUE(bf.Decrypt(back.data(), 8));
    EXPECT_EQ(SwapHalves(back), FromHex(v.plain)) << v.key;
    // The block functions take the same words as numbers.
    auto [l, r] = HexWords(v.plain);
    bf.BF_En(&l, &r);
    EXPECT_EQ(std::pair(l, r), HexWords(v.cipher)) << v.key;
    bf.BF_De(&l, &r);
    EXPECT_EQ(std::pair(l, r), HexWords(v.plain)) << v.key;
  }
}

TEST(Blowfish, AgreesWithOpenSslForKeysOf1To56BytesAndLongBuffers) {
  std::mt19937 rng(7);
  for (std::size_t keyLength = 1; keyLength <= 56; ++keyLength) {
    std::string key(keyLength, '\0');
    for (auto& c : key) c = static_cast<char>(1 + rng() % 255);  // no zero byte
    // 40 blocks: the 4-block interleaved path and the single-block tail.
    Bytes plain(8 * (keyLength % 11 + 1) + 8 * 32);
    for (auto& b : plain) b = static_cast<unsigned char>(rng());
    Blowfish bf;
    bf.SetPassword(key.c_str());
    const Bytes ours = Encrypted(bf, plain);
    ASSERT_EQ(ours, PeerEcb(key, plain)) << "key length " << keyLength;
    Bytes back = ours;
    ASSERT_TRUE(bf.Decrypt(back.data(), static_cast<std::uint32_t>(back.size())));
    EXPECT_EQ(back, plain);
  }
}

TEST(Blowfish, SelfTestPassesAndLeavesSecondVectorKey) {
  Blowfish bf;
  EXPECT_EQ(bf.Test(), 0);
  const Bytes block = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(Encrypted(bf, block), Encrypted("Who is John Galt?", block));
}

TEST(Blowfish, EmptyKeyLeavesInitialTables) {
  // Mixing a key into the tables an empty key left gives OpenSSL's keyed
  // cipher only if those tables are exactly the initial ones.
  const std::string key = "0123456789abcdef";
  const Bytes plain = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};
  const Bytes expected = PeerEcb(key, plain);
  for (const char* empty : {"", static_cast<const char*>(nullptr)}) {
    Blowfish bf;
    bf.SetPassword("something else first");
    bf.SetPassword(empty);
    bf.GenerateSubkeys(key.c_str());
    EXPECT_EQ(Encrypted(bf, plain), expected);
  }
  Blowfish fresh;
  fresh.GenerateSubkeys(key.c_str());
  EXPECT_EQ(Encrypted(fresh, plain), expected);
}

// Repetition of shorter keys is OpenSSL's too (the comparison above);
// only the 72-byte cut is ours to prove.
TEST(Blowfish, KeyScheduleIgnoresBytesAfterThe72nd) {
  const Bytes plain = {1, 1, 2, 3, 5, 8, 13, 21};
  const std::string k72(72, 'x');
  EXPECT_EQ(Encrypted(k72.c_str(), plain), Encrypted((k72 + "anything after").c_str(), plain));
  EXPECT_NE(Encrypted(k72.c_str(), plain), Encrypted((k72.substr(0, 71) + "y").c_str(), plain));
}

TEST(Blowfish, EncryptStringPadsWithZerosToWholeBlocks) {
  Blowfish bf;
  bf.SetPassword("string key");
  for (const std::string text : {"12345678", "123456789"}) {
    Bytes padded(text.begin(), text.end());
    padded.resize((text.size() + 7) / 8 * 8, 0);
    std::string out;
    ASSERT_TRUE(bf.EncryptString(text.c_str(), out));
    EXPECT_EQ(out, OpenSslBase64(PeerEcb("string key", padded)));
    std::string back = "old";
    ASSERT_TRUE(bf.DecryptString(out.c_str(), back));
    EXPECT_EQ(back, std::string(padded.begin(), padded.end()));
  }
}

TEST(Blowfish, BadInputIsRefusedLeavingTheOutput) {
  Blowfish bf;
  bf.SetPassword("k");
  Bytes data(16, 0x5A);
  for (auto op : {&Blowfish::Encrypt, &Blowfish::Decrypt}) {
    EXPECT_FALSE((bf.*op)(data.data(), 0));
    EXPECT_FALSE((bf.*op)(data.data(), 12));
    EXPECT_FALSE((bf.*op)(nullptr, 8));
  }
  EXPECT_EQ(data, Bytes(16, 0x5A));
  std::string out = "kept";
  for (const char* text : {"", static_cast<const char*>(nullptr)}) {
    EXPECT_FALSE(bf.EncryptString(text, out));
    EXPECT_FALSE(bf.DecryptString(text, out));
  }
  EXPECT_FALSE(bf.DecryptString("AAAA", out));      // 3 bytes
  EXPECT_FALSE(bf.DecryptString("AA==AAAA", out));  // stops after 1 byte
  EXPECT_EQ(out, "kept");
}

}  // namespace
