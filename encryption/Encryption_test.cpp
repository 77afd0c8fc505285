#include "encryption/Encryption.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

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
  static void Schedule(Encryption& e, const unsigned char* key, int len) {
    e.Close();
    e.KeySchedule(key, len);
  }
  static const int32_t* BytePos(const Encryption& e) { return e.m_bytePos; }
  static const uint32_t* PArray(const Encryption& e) { return e.m_PA; }
};

namespace {

using Bytes = std::vector<unsigned char>;

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string ToHex(const Bytes& b) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : b) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

Bytes RandomBytes(std::mt19937& rng, std::size_t n) {
  Bytes b(n);
  for (auto& c : b) c = static_cast<unsigned char>(rng());
  return b;
}

// OpenSSL's Blowfish lives in the legacy provider; load it once.
class OpenSslBlowfish {
 public:
  static bool Available() {
    static OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    static OSSL_PROVIDER* deflt = OSSL_PROVIDER_load(nullptr, "default");
    (void)deflt;
    return legacy != nullptr;
  }

  // Runs `name` ("BF-ECB", ...) over `data` with padding off.
  static Bytes Run(const char* name, bool encrypt, const Bytes& key, const Bytes& iv,
                   const Bytes& data) {
    std::unique_ptr<EVP_CIPHER, decltype(&EVP_CIPHER_free)> cipher(
        EVP_CIPHER_fetch(nullptr, name, nullptr), EVP_CIPHER_free);
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    Bytes out(data.size() + 16);
    int n1 = 0, n2 = 0;
    if (!cipher || !ctx ||
        EVP_CipherInit_ex(ctx.get(), cipher.get(), nullptr, nullptr, nullptr, encrypt) != 1 ||
        EVP_CIPHER_CTX_set_key_length(ctx.get(), static_cast<int>(key.size())) != 1 ||
        EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, key.data(), iv.empty() ? nullptr : iv.data(),
                          encrypt) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
        EVP_CipherUpdate(ctx.get(), out.data(), &n1, data.data(), static_cast<int>(data.size())) !=
            1 ||
        EVP_CipherFinal_ex(ctx.get(), out.data() + n1, &n2) != 1) {
      ADD_FAILURE() << "OpenSSL " << name << " failed";
      return {};
    }
    out.resize(static_cast<std::size_t>(n1 + n2));
    return out;
  }
};

#define REQUIRE_OPENSSL_BLOWFISH()   \
  if (!OpenSslBlowfish::Available()) \
  GTEST_SKIP() << "OpenSSL's legacy provider (Blowfish) cannot be loaded here"

// ---- Initial tables ----

// Pi's fractional hexadecimal digits, recomputed with Machin's formula
// (pi = 16 atan 1/5 - 4 atan 1/239) in OpenSSL big-number fixed point.
std::vector<uint32_t> PiWords(int words) {
  const int bits = words * 32 + 64;  // 64 guard bits
  BN_CTX* ctx = BN_CTX_new();
  auto atan_inv = [&](unsigned long x) {
    BIGNUM* sum = BN_new();
    BIGNUM* term = BN_new();
    BIGNUM* q = BN_new();
    BN_zero(sum);
    BN_one(term);
    BN_lshift(term, term, bits + 4);
    BN_div_word(term, x);
    for (unsigned long k = 1, sign = 0; !BN_is_zero(term); k += 2, sign ^= 1) {
      BN_copy(q, term);
      BN_div_word(q, k);
      sign ? BN_sub(sum, sum, q) : BN_add(sum, sum, q);
      BN_div_word(term, x * x);
    }
    BN_free(term);
    BN_free(q);
    return sum;
  };
  BIGNUM* a = atan_inv(5);
  BIGNUM* b = atan_inv(239);
  BN_mul_word(a, 16);
  BN_mul_word(b, 4);
  BIGNUM* pi = BN_new();
  BN_sub(pi, a, b);  // pi * 2^(bits + 4)
  BN_rshift(pi, pi, 4 + 64);
  BN_mask_bits(pi, words * 32);  // drop the integer part 3
  std::vector<unsigned char> be(static_cast<std::size_t>(words) * 4);
  BN_bn2binpad(pi, be.data(), static_cast<int>(be.size()));
  std::vector<uint32_t> out(static_cast<std::size_t>(words));
  for (int i = 0; i < words; ++i)
    out[i] = (uint32_t(be[4 * i]) << 24) | (uint32_t(be[4 * i + 1]) << 16) |
             (uint32_t(be[4 * i + 2]) << 8) | be[4 * i + 3];
  BN_free(a);
  BN_free(b);
  BN_free(pi);
  BN_CTX_free(ctx);
  return out;
}

TEST(EncryptionTablesTest, InitialTablesAreTheHexDigitsOfPi) {
  std::vector<uint32_t> pi = PiWords(18 + 4 * 256);
  for (int i = 0; i < 18; ++i) EXPECT_EQ(Encryption::m_INIT_PA[i], pi[i]) << "P " << i;
  for (int box = 0; box < 4; ++box)
    for (int i = 0; i < 256; ++i)
      ASSERT_EQ(Encryption::m_INIT_SB[box][i], pi[18 + 256 * box + i]) << "S" << box << " " << i;
  EXPECT_EQ(Encryption::m_INIT_PA[0], 0x243F6A88u);
  EXPECT_EQ(Encryption::m_INIT_PA[17], 0x8979FB1Bu);
}

TEST(EncryptionTest, ByteOrderProbeFindsTheHostOrder) {
  Encryption e;
  const int32_t* pos = EncryptionInspector::BytePos(e);
  uint32_t v = 0x01020304;
  unsigned char bytes[4];
  std::memcpy(bytes, &v, 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(pos[bytes[i] - 1], i);
  EXPECT_EQ(e.system2bigendian_long(0x01020304), *reinterpret_cast<const uint32_t*>("\1\2\3\4"));
  EXPECT_EQ(e.bigendian2system_long(e.system2bigendian_long(0xA1B2C3D4)), 0xA1B2C3D4u);
}

// ---- Published vectors ----

struct EcbVector {
  const char* key;
  const char* plain;
  const char* cipher;
};

// Published Blowfish reference results (Eric Young's set and Schneier's).
const EcbVector kEcbVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    // "abcdefghijklmnopqrstuvwxyz" enciphering "BLOWFISH".
    {"6162636465666768696A6B6C6D6E6F707172737475767778797A", "424C4F5746495348",
     "324ED0FEF413A203"},
    // "Who is John Galt?"
    {"57686F206973204A6F686E2047616C743F", "FEDCBA9876543210", "CC91732B8022F684"},
};

class EncryptionVectorTest : public ::testing::TestWithParam<EcbVector> {};

TEST_P(EncryptionVectorTest, EcbReproducesThePublishedResult) {
  const EcbVector& v = GetParam();
  Bytes key = FromHex(v.key), block = FromHex(v.plain);
  Encryption e;
  ASSERT_TRUE(e.Open(key.data(), static_cast<int>(key.size())));
  ASSERT_EQ(e.sencrypt(block.data(), 8, "ecb"), 0);
  EXPECT_EQ(ToHex(block), v.cipher);
  ASSERT_EQ(e.sdecrypt(block.data(), 8, "ECB"), 0);
  EXPECT_EQ(ToHex(block), v.plain);
  // The block primitives agree with the mode.
  e.encrypt(block.data());
  EXPECT_EQ(ToHex(block), v.cipher);
  e.decrypt(block.data());
  EXPECT_EQ(ToHex(block), v.plain);
}

INSTANTIATE_TEST_SUITE_P(Published, EncryptionVectorTest, ::testing::ValuesIn(kEcbVectors));

TEST(EncryptionTest, VariableKeyLengthsMatchOpenSsl) {
  // The variable-key set: every prefix of one key, 1 to 56 bytes.
  REQUIRE_OPENSSL_BLOWFISH();
  Bytes full = FromHex(
      "F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677F0E1D2C3B4A5968778695A4B3C2D1E0F001122334455"
      "66778899AABBCCDDEEFF0123456789ABCDEF0123456789ABCDEF");
  Bytes plain = FromHex("FEDCBA9876543210");
  for (int len = 1; len <= 56; ++len) {
    Bytes key(full.begin(), full.begin() + len);
    Encryption e;
    ASSERT_TRUE(e.Open(key.data(), len));
    Bytes block = plain;
    e.sencrypt(block.data(), 8, "ecb");
    EXPECT_EQ(ToHex(block), ToHex(OpenSslBlowfish::Run("BF-ECB", true, key, {}, plain)))
        << "key length " << len;
  }
}

TEST(EncryptionTest, WordRoundsMatchTheBlockOperation) {
  Encryption e;
  const unsigned char key[] = "key";
  ASSERT_TRUE(e.Open(key, 3));
  Bytes block = FromHex("0123456789ABCDEF");
  Encryption::b32 l, r;
  l.word = 0x01234567;
  r.word = 0x89ABCDEF;
  e.wencrypt(&l, &r);
  e.encrypt(block.data());
  EXPECT_EQ(ToHex(block), ToHex(FromHex([&] {
              char text[17];
              std::snprintf(text, sizeof text, "%08X%08X", l.word, r.word);
              return std::string(text);
            }())));
  e.wdecrypt(&l, &r);
  EXPECT_EQ(l.word, 0x01234567u);
  EXPECT_EQ(r.word, 0x89ABCDEFu);
  // F through the byte table equals the published formula on the
  // unkeyed tables.
  Encryption fresh;
  Encryption::b32 x;
  x.word = 0x00010203;
  const auto& S = Encryption::m_INIT_SB;
  EXPECT_EQ(fresh.F(&x), ((S[0][0] + S[1][1]) ^ S[2][2]) + S[3][3]);
}

// ---- Opening ----

TEST(EncryptionTest, HashedOpenIsTheKeyScheduleOverTheSha384Text) {
  const char* phrases[] = {"", "pass",
                           "a rather longer pass phrase of more than fifty-six chars!!"};
  for (const char* pass : phrases) {
    // The key text, computed independently with EVP.
    unsigned char md[48];
    unsigned int n = 0;
    ASSERT_EQ(EVP_Digest(pass, std::strlen(pass), md, &n, EVP_sha384(), nullptr), 1);
    std::string text;
    static const char digits[] = "0123456789abcdef";
    for (unsigned char c : md) {
      text += digits[c >> 4];
      text += digits[c & 15];
    }
    Bytes key(text.begin(), text.end());
    key.push_back(0);
    ASSERT_EQ(key.size(), 97u);

    Encryption hashed, scheduled;
    ASSERT_TRUE(hashed.Open(pass, true));
    EncryptionInspector::Schedule(scheduled, key.data(), 97);
    EXPECT_TRUE(EncryptionInspector::SameTables(hashed, scheduled)) << pass;

    // Only the first 72 key bytes take effect: OpenSSL's Blowfish keyed
    // with them enciphers exactly as the hashed engine.
    if (OpenSslBlowfish::Available()) {
      std::mt19937 rng(5);
      Bytes plain = RandomBytes(rng, 64);
      Bytes ours = plain;
      ASSERT_EQ(hashed.sencrypt(ours.data(), 64, "ecb"), 0);
      Bytes first72(key.begin(), key.begin() + 72);
      EXPECT_EQ(ours, OpenSslBlowfish::Run("BF-ECB", true, first72, {}, plain)) << pass;
    }
  }
}

TEST(EncryptionTest, PlainPhraseLimitIs56Characters) {
  Encryption e;
  std::string p56(56, 'k'), p57(57, 'k');
  EXPECT_TRUE(e.Open(p56.c_str(), false));
  Encryption raw;
  ASSERT_TRUE(raw.Open(reinterpret_cast<const unsigned char*>(p56.data()), 56));
  EXPECT_TRUE(EncryptionInspector::SameTables(e, raw));

  EXPECT_FALSE(e.Open(p57.c_str(), false));
  EXPECT_TRUE(EncryptionInspector::Unkeyed(e));  // reset, unkeyed
  EXPECT_TRUE(e.Open(p57.c_str(), true));        // hashing accepts any length
  EXPECT_TRUE(e.Open("", true));
  EXPECT_FALSE(EncryptionInspector::Unkeyed(e));
}

TEST(EncryptionTest, EmptyKeysAreRefused) {
  Encryption e;
  const unsigned char key[] = "k";
  EXPECT_FALSE(e.Open("", false));
  EXPECT_FALSE(e.Open(key, 0));
  EXPECT_FALSE(e.Open(key, -8));
  EXPECT_FALSE(e.Open(static_cast<const unsigned char*>(nullptr), 8));
  EXPECT_FALSE(e.Open(static_cast<const char*>(nullptr), true));
  EXPECT_TRUE(EncryptionInspector::Unkeyed(e));
}

TEST(EncryptionTest, OverlongRawKeyLeavesAKeyedEngineAsItWas) {
  Bytes key(57, 0x5A);
  Encryption e, reference;
  ASSERT_TRUE(e.Open(key.data(), 10));
  ASSERT_TRUE(reference.Open(key.data(), 10));
  EXPECT_FALSE(e.Open(key.data(), 57));
  EXPECT_TRUE(EncryptionInspector::SameTables(e, reference));
}

TEST(EncryptionTest, CloseAndReopenRestoreTheTables) {
  Encryption e, reference;
  ASSERT_TRUE(reference.Open("first", false));
  ASSERT_TRUE(e.Open("other", false));
  ASSERT_TRUE(e.Open("first", false));  // reopening resets before keying
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

// ---- Modes and status codes ----

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
}

TEST(EncryptionTest, ModeNamesIgnoreCase) {
  Encryption e;
  ASSERT_TRUE(e.Open("key", false));
  std::mt19937 rng(3);
  Bytes iv = RandomBytes(rng, 8), plain = RandomBytes(rng, 32);
  const char* names[][3] = {
      {"ecb", "ECB", "eCb"}, {"cbc", "CBC", "Cbc"}, {"cfb", "CFB", "cFB"}, {"ofb", "OFB", "Ofb"}};
  for (const auto& group : names) {
    Bytes expected = plain;
    ASSERT_EQ(e.sencrypt(expected.data(), 32, group[0], iv.data()), 0);
    for (const char* name : group) {
      Bytes got = plain;
      ASSERT_EQ(e.sencrypt(got.data(), 32, name, iv.data()), 0) << name;
      EXPECT_EQ(got, expected) << name;
      ASSERT_EQ(e.sdecrypt(got.data(), 32, name, iv.data()), 0) << name;
      EXPECT_EQ(got, plain) << name;
    }
  }
}

TEST(EncryptionTest, EveryModeRoundTripsAndLeavesTheIvAlone) {
  std::mt19937 rng(17);
  for (const char* mode : {"ecb", "cbc", "cfb", "ofb"}) {
    for (int trial = 0; trial < 20; ++trial) {
      Bytes key = RandomBytes(rng, 1 + rng() % 56);
      Bytes iv = RandomBytes(rng, 8);
      const Bytes iv_copy = iv;
      Bytes plain = RandomBytes(rng, 8 * (1 + rng() % 40));
      Encryption e;
      ASSERT_TRUE(e.Open(key.data(), static_cast<int>(key.size())));
      Bytes buf = plain;
      ASSERT_EQ(e.sencrypt(buf.data(), static_cast<int>(buf.size()), mode, iv.data()), 0);
      EXPECT_NE(buf, plain) << mode;
      ASSERT_EQ(e.sdecrypt(buf.data(), static_cast<int>(buf.size()), mode, iv.data()), 0);
      EXPECT_EQ(buf, plain) << mode;
      EXPECT_EQ(iv, iv_copy) << mode;
    }
  }
}

TEST(EncryptionTest, StrongPairIsCbcWithAZeroIv) {
  Encryption e;
  ASSERT_TRUE(e.Open("CEncryptedString", true));
  std::mt19937 rng(23);
  Bytes plain = RandomBytes(rng, 48);
  // Two equal blocks to show ECB's pattern and CBC hiding it.
  std::copy(plain.begin(), plain.begin() + 8, plain.begin() + 8);
  Bytes strong = plain, null_iv = plain, zero_iv = plain, ecb = plain;
  const unsigned char zeros[8] = {};
  ASSERT_EQ(e.EncryptStrong(strong.data(), 48), 0);
  ASSERT_EQ(e.sencrypt(null_iv.data(), 48, "cbc", nullptr), 0);
  ASSERT_EQ(e.sencrypt(zero_iv.data(), 48, "cbc", zeros), 0);
  ASSERT_EQ(e.sencrypt(ecb.data(), 48, "ecb"), 0);
  EXPECT_EQ(strong, null_iv);
  EXPECT_EQ(strong, zero_iv);
  EXPECT_TRUE(std::equal(strong.begin(), strong.begin() + 8, ecb.begin()));
  EXPECT_TRUE(std::equal(ecb.begin(), ecb.begin() + 8, ecb.begin() + 8));
  EXPECT_FALSE(std::equal(strong.begin(), strong.begin() + 8, strong.begin() + 8));
  ASSERT_EQ(e.DecryptStrong(strong.data(), 48), 0);
  EXPECT_EQ(strong, plain);
}

TEST(EncryptionTest, ModesMatchOpenSslBlowfish) {
  REQUIRE_OPENSSL_BLOWFISH();
  struct Peer {
    const char* ours;
    const char* theirs;
  } peers[] = {{"ecb", "BF-ECB"}, {"cbc", "BF-CBC"}, {"cfb", "BF-CFB"}, {"ofb", "BF-OFB"}};
  std::mt19937 rng(99);
  for (const Peer& p : peers) {
    for (int trial = 0; trial < 40; ++trial) {
      Bytes key = RandomBytes(rng, 1 + rng() % 56);
      Bytes iv = RandomBytes(rng, 8);
      Bytes plain = RandomBytes(rng, 8 * (1 + rng() % 64));
      Encryption e;
      ASSERT_TRUE(e.Open(key.data(), static_cast<int>(key.size())));
      const Bytes peer_iv = std::string(p.ours) == "ecb" ? Bytes{} : iv;
      Bytes buf = plain;
      ASSERT_EQ(e.sencrypt(buf.data(), static_cast<int>(buf.size()), p.ours, iv.data()), 0);
      ASSERT_EQ(buf, OpenSslBlowfish::Run(p.theirs, true, key, peer_iv, plain))
          << p.ours << " key length " << key.size();
      Bytes back = buf;
      ASSERT_EQ(e.sdecrypt(back.data(), static_cast<int>(back.size()), p.ours, iv.data()), 0);
      ASSERT_EQ(back, OpenSslBlowfish::Run(p.theirs, false, key, peer_iv, buf)) << p.ours;
      ASSERT_EQ(back, plain);
    }
  }
}

// ---- Weak scramble ----

TEST(EncryptionTest, WeakScrambleOfAbc) {
  Encryption e;
  unsigned char buf[] = {'a', 'b', 'c'};
  e.EncryptWeak(buf, 3);
  EXPECT_EQ(ToHex(Bytes(buf, buf + 3)), "B59775");
  e.DecryptWeak(buf, 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "abc");
  e.EncryptWeak(buf, 0);
  e.EncryptWeak(buf, -3);
  e.EncryptWeak(nullptr, 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "abc");
}

TEST(EncryptionTest, WeakScrambleIsKeylessAndItsOwnInverse) {
  std::mt19937 rng(1);
  Bytes plain = RandomBytes(rng, 1000);
  Bytes a = plain;
  Encryption keyed, unkeyed;
  ASSERT_TRUE(keyed.Open("whatever", false));
  keyed.EncryptWeak(a.data(), 1000);
  Bytes b = plain;
  unkeyed.EncryptWeak(b.data(), 1000);
  EXPECT_EQ(a, b);
  for (int i = 0; i < 1000; ++i)
    ASSERT_EQ(a[i], plain[i] ^ static_cast<unsigned char>((1000 + 209 + 33 * i) % 256));
  unkeyed.DecryptWeak(a.data(), 1000);
  EXPECT_EQ(a, plain);
}

TEST(EncryptionTest, AutotestPerformsNoTest) {
  Encryption e;
  EXPECT_EQ(e.autotest(), -1);
}

}  // namespace
