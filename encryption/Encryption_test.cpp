#include "encryption/Encryption.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "encryption/OpenSslBlowfish_test.h"

// Reaches the engine's tables so key schedules can be compared whole.
struct EncryptionInspector {
  static bool SameTables(const Encryption& a, const Encryption& b) {
    return std::memcmp(a.m_PA, b.m_PA, sizeof a.m_PA) == 0 &&
           std::memcmp(a.m_SB, b.m_SB, sizeof a.m_SB) == 0;
  }
  static bool Unkeyed(const Encryption& e) {
    return std::memcmp(e.m_PA, Encryption::m_INIT_PA, sizeof e.m_PA) == 0 &&
           std::memcmp(e.m_SB, Encryption::m_INIT_SB, sizeof e.m_SB) == 0;
  }
  static const uint32_t* PArray(const Encryption& e) { return e.m_PA; }
};

namespace {

using namespace vello_test;

Bytes RandomBytes(std::mt19937& rng, std::size_t n) {
  Bytes b(n);
  for (auto& c : b) c = static_cast<unsigned char>(rng());
  return b;
}

// Published vectors, through the mode, the block primitives and the
// rounds on host-order words.
TEST(EncryptionTest, EcbReproducesThePublishedResults) {
  for (const EcbVector& v : kEcbVectors) {
    SCOPED_TRACE(v.key);
    const Bytes key = FromHex(v.key), plain = FromHex(v.plain), cipher = FromHex(v.cipher);
    Bytes block = plain;
    Encryption e;
    ASSERT_TRUE(e.Open(key.data(), static_cast<int>(key.size())));
    ASSERT_EQ(e.sencrypt(block.data(), 8, "ecb"), 0);
    EXPECT_EQ(block, cipher);
    ASSERT_EQ(e.sdecrypt(block.data(), 8, "ECB"), 0);
    EXPECT_EQ(block, plain);
    e.encrypt(block.data());
    EXPECT_EQ(block, cipher);
    e.decrypt(block.data());
    EXPECT_EQ(block, plain);
    Encryption::b32 l, r;
    std::tie(l.word, r.word) = HexWords(v.plain);
    e.wencrypt(&l, &r);
    EXPECT_EQ(std::pair(l.word, r.word), HexWords(v.cipher));
    e.wdecrypt(&l, &r);
    EXPECT_EQ(std::pair(l.word, r.word), HexWords(v.plain));
  }
}

TEST(EncryptionTest, WordFunctionsFollowTheByteOrder) {
  Encryption e;
  EXPECT_EQ(e.system2bigendian_long(0x01020304), *reinterpret_cast<const uint32_t*>("\1\2\3\4"));
  EXPECT_EQ(e.bigendian2system_long(*reinterpret_cast<const uint32_t*>("\1\2\3\4")), 0x01020304u);
  // F on the unkeyed tables is the published formula.
  Encryption::b32 x;
  x.word = 0x00010203;
  const auto& S = Encryption::m_INIT_SB;
  EXPECT_EQ(e.F(&x), ((S[0][0] + S[1][1]) ^ S[2][2]) + S[3][3]);
}

TEST(EncryptionTest, KeyLimitsAndResets) {
  Encryption e, reference;
  const std::string p56(56, 'k'), p57(57, 'k');
  const auto* raw = reinterpret_cast<const unsigned char*>(p57.data());
  // Plain phrases and raw keys: 1 to 56 bytes.
  EXPECT_TRUE(e.Open(p56.c_str(), false));
  ASSERT_TRUE(reference.Open(raw, 56));
  EXPECT_TRUE(EncryptionInspector::SameTables(e, reference));
  EXPECT_FALSE(e.Open(p57.c_str(), false));
  EXPECT_TRUE(EncryptionInspector::Unkeyed(e));  // a refused phrase resets
  // A refused raw key leaves a keyed engine as it was.
  ASSERT_TRUE(e.Open(raw, 56));
  EXPECT_FALSE(e.Open(raw, 57));
  EXPECT_TRUE(EncryptionInspector::SameTables(e, reference));
  Encryption empty;
  EXPECT_FALSE(empty.Open("", false));
  EXPECT_FALSE(empty.Open(raw, 0));
  EXPECT_FALSE(empty.Open(raw, -8));
  EXPECT_FALSE(empty.Open(static_cast<const unsigned char*>(nullptr), 8));
  EXPECT_FALSE(empty.Open(static_cast<const char*>(nullptr), true));
  EXPECT_TRUE(EncryptionInspector::Unkeyed(empty));
  // Reopening resets before keying; Close puts the initial tables back.
  ASSERT_TRUE(e.Open("other", false));
  ASSERT_TRUE(e.Open(p56.c_str(), false));
  EXPECT_TRUE(EncryptionInspector::SameTables(e, reference));
  e.Close();
  EXPECT_TRUE(EncryptionInspector::Unkeyed(e));
}

TEST(EncryptionTest, DestructionLeavesNoKeyedTablesBehind) {
  alignas(Encryption) unsigned char storage[sizeof(Encryption)];
  auto* e = new (storage) Encryption;
  ASSERT_TRUE(e->Open("a secret pass phrase", true));
  const auto* pa = reinterpret_cast<const unsigned char*>(EncryptionInspector::PArray(*e));
  const std::size_t offset = static_cast<std::size_t>(pa - storage);
  unsigned char keyed[18 * 4];
  std::memcpy(keyed, pa, sizeof keyed);
  e->~Encryption();
  EXPECT_NE(std::memcmp(storage + offset, keyed, sizeof keyed), 0);
}

TEST(EncryptionTest, StatusCodesInTheirOrderAndNothingTouched) {
  Encryption e;
  ASSERT_TRUE(e.Open("key", false));
  Bytes buf(16, 0x33);
  const Bytes before = buf;
  for (auto op : {&Encryption::sencrypt, &Encryption::sdecrypt}) {
    EXPECT_EQ((e.*op)(nullptr, 12, nullptr, nullptr), -4);
    EXPECT_EQ((e.*op)(buf.data(), 12, nullptr, nullptr), -1);
    EXPECT_EQ((e.*op)(buf.data(), -8, "ecb", nullptr), -1);
    EXPECT_EQ((e.*op)(buf.data(), 16, nullptr, nullptr), -2);
    EXPECT_EQ((e.*op)(buf.data(), 16, "cfb8", nullptr), -3);
    EXPECT_EQ((e.*op)(buf.data(), 16, "", nullptr), -3);
    EXPECT_EQ((e.*op)(buf.data(), 16, "ec", nullptr), -3);
    EXPECT_EQ((e.*op)(buf.data(), 0, "ofb", nullptr), 0);
    EXPECT_EQ(buf, before);
  }
  EXPECT_EQ(e.EncryptStrong(nullptr, 8), -4);
  EXPECT_EQ(e.DecryptStrong(buf.data(), 7), -1);
  EXPECT_EQ(buf, before);
  EXPECT_EQ(e.autotest(), -1);  // there is no self-test
}

// Every mode against OpenSSL, for every key length; mode names in any
// case; the caller's IV is never written.
TEST(EncryptionTest, ModesMatchOpenSslBlowfish) {
  REQUIRE_OPENSSL_BLOWFISH();
  const char* peers[][4] = {{"ecb", "ECB", "eCb", "BF-ECB"},
                            {"cbc", "CBC", "Cbc", "BF-CBC"},
                            {"cfb", "CFB", "cFB", "BF-CFB"},
                            {"ofb", "OFB", "Ofb", "BF-OFB"}};
  std::mt19937 rng(99);
  for (const auto& names : peers) {
    for (int len = 1; len <= 56; ++len) {
      Bytes key = RandomBytes(rng, len), iv = RandomBytes(rng, 8);
      const Bytes iv_copy = iv, plain = RandomBytes(rng, 8 * (1 + rng() % 64));
      const Bytes peer_iv = names[0] == std::string("ecb") ? Bytes{} : iv;
      const int size = static_cast<int>(plain.size());
      Encryption e;
      ASSERT_TRUE(e.Open(key.data(), len));
      Bytes buf = plain;
      ASSERT_EQ(e.sencrypt(buf.data(), size, names[len % 3], iv.data()), 0);
      ASSERT_EQ(buf, OpenSslBf(names[3], true, key, peer_iv, plain)) << names[0] << " key " << len;
      ASSERT_EQ(e.sdecrypt(buf.data(), size, names[(len + 1) % 3], iv.data()), 0);
      ASSERT_EQ(buf, plain) << names[0] << " key " << len;
      ASSERT_EQ(iv, iv_copy) << names[0];
    }
  }
}

TEST(EncryptionTest, WeakScrambleIsKeylessAndItsOwnInverse) {
  Encryption unkeyed, keyed;
  unsigned char abc[] = {'a', 'b', 'c'};
  unkeyed.EncryptWeak(abc, 3);
  EXPECT_EQ(Bytes(abc, abc + 3), Bytes({0xB5, 0x97, 0x75}));
  unkeyed.EncryptWeak(abc, 0);  // no-ops
  unkeyed.EncryptWeak(abc, -3);
  unkeyed.EncryptWeak(nullptr, 3);
  unkeyed.DecryptWeak(abc, 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(abc), 3), "abc");

  std::mt19937 rng(1);
  const Bytes plain = RandomBytes(rng, 1000);
  Bytes a = plain, b = plain;
  ASSERT_TRUE(keyed.Open("whatever", false));
  keyed.EncryptWeak(a.data(), 1000);
  unkeyed.EncryptWeak(b.data(), 1000);
  EXPECT_EQ(a, b);
  for (int i = 0; i < 1000; ++i)
    ASSERT_EQ(a[i], plain[i] ^ static_cast<unsigned char>((1000 + 209 + 33 * i) % 256));
  unkeyed.DecryptWeak(a.data(), 1000);
  EXPECT_EQ(a, plain);
}

}  // namespace
