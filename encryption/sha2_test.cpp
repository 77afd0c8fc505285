#include "encryption/sha2.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "encryption/sha2_detail.h"

namespace {

// One digest family behind a uniform face, so every test runs for all three.
struct Family {
  const char* name;
  std::size_t digest_length;
  std::size_t block_length;
  const char* evp_name;
  std::string (*hex)(const std::vector<std::vector<sha2_byte>>& pieces);
  std::vector<sha2_byte> (*binary)(const std::string& message);
  char* (*data)(const sha2_byte*, std::size_t, char*);
};

template <typename Ctx, void (*Init)(Ctx*), void (*Update)(Ctx*, const sha2_byte*, std::size_t),
          char* (*End)(Ctx*, char*), std::size_t kLength>
std::string HexOf(const std::vector<std::vector<sha2_byte>>& pieces) {
  Ctx ctx;
  Init(&ctx);
  for (const auto& piece : pieces) Update(&ctx, piece.data(), piece.size());
  std::string text(kLength * 2 + 8, 'X');
  char* end = End(&ctx, text.data());
  EXPECT_EQ(end, text.data() + kLength * 2);
  EXPECT_EQ(*end, '\0');
  text.resize(kLength * 2);
  return text;
}

template <typename Ctx, void (*Init)(Ctx*), void (*Update)(Ctx*, const sha2_byte*, std::size_t),
          void (*Final)(sha2_byte*, Ctx*), std::size_t kLength>
std::vector<sha2_byte> BinaryOf(const std::string& message) {
  Ctx ctx;
  Init(&ctx);
  Update(&ctx, reinterpret_cast<const sha2_byte*>(message.data()), message.size());
  std::vector<sha2_byte> digest(kLength);
  Final(digest.data(), &ctx);
  return digest;
}

const Family kSha256{"SHA256",
                     32,
                     64,
                     "SHA256",
                     HexOf<SHA256_CTX, SHA256_Init, SHA256_Update, SHA256_End, 32>,
                     BinaryOf<SHA256_CTX, SHA256_Init, SHA256_Update, SHA256_Final, 32>,
                     SHA256_Data};
const Family kSha384{"SHA384",
                     48,
                     128,
                     "SHA384",
                     HexOf<SHA384_CTX, SHA384_Init, SHA384_Update, SHA384_End, 48>,
                     BinaryOf<SHA384_CTX, SHA384_Init, SHA384_Update, SHA384_Final, 48>,
                     SHA384_Data};
const Family kSha512{"SHA512",
                     64,
                     128,
                     "SHA512",
                     HexOf<SHA512_CTX, SHA512_Init, SHA512_Update, SHA512_End, 64>,
                     BinaryOf<SHA512_CTX, SHA512_Init, SHA512_Update, SHA512_Final, 64>,
                     SHA512_Data};

std::vector<sha2_byte> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string HexOfBytes(const unsigned char* p, std::size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

// Independent peer: OpenSSL's EVP digest of the same bytes.
std::string EvpHex(const char* name, const std::vector<sha2_byte>& message) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_MD* md_type = EVP_MD_fetch(nullptr, name, nullptr);
  EXPECT_NE(md_type, nullptr);
  EXPECT_EQ(EVP_Digest(message.data(), message.size(), md, &len, md_type, nullptr), 1);
  EVP_MD_free(md_type);
  return HexOfBytes(md, len);
}

const std::string kTwoBlock448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string kTwoBlock896 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmn"
    "opqrsmnopqrstnopqrstu";

struct Vector {
  const Family* family;
  std::string message;
  const char* digest;
};

// FIPS 180-2 examples and the empty-message digests.
const Vector kVectors[] = {
    {&kSha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {&kSha256, kTwoBlock448, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {&kSha256, std::string(1000000, 'a'),
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {&kSha256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {&kSha384, "abc",
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c8"
     "25a7"},
    {&kSha384, kTwoBlock896,
     "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa9174"
     "6039"},
    {&kSha384, std::string(1000000, 'a'),
     "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3d"
     "8985"},
    {&kSha384, "",
     "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898"
     "b95b"},
    {&kSha512, "abc",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3fe"
     "ebbd454d4423643ce80e2a9ac94fa54ca49f"},
    {&kSha512, kTwoBlock896,
     "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5"
     "433ac7d329eeb6dd26545e96e55b874be909"},
    {&kSha512, std::string(1000000, 'a'),
     "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce577"
     "c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
    {&kSha512, "",
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877e"
     "ec2f63b931bd47417a81a538327af927da3e"},
};

class Sha2VectorTest : public ::testing::TestWithParam<Vector> {};

TEST_P(Sha2VectorTest, PublishedDigestThroughEveryEntryPoint) {
  const Vector& v = GetParam();
  const Family& f = *v.family;
  EXPECT_EQ(f.hex({Bytes(v.message)}), v.digest);

  std::vector<sha2_byte> binary = f.binary(v.message);
  EXPECT_EQ(HexOfBytes(binary.data(), binary.size()), v.digest);

  std::string text(f.digest_length * 2 + 1, 'X');
  char* end =
      f.data(reinterpret_cast<const sha2_byte*>(v.message.data()), v.message.size(), text.data());
  EXPECT_EQ(end, text.data() + f.digest_length * 2);
  EXPECT_STREQ(text.c_str(), v.digest);
}

INSTANTIATE_TEST_SUITE_P(Fips180, Sha2VectorTest, ::testing::ValuesIn(kVectors),
                         [](const auto& info) {
                           return std::string(info.param.family->name) + "_" +
                                  std::to_string(info.index);
                         });

class Sha2FamilyTest : public ::testing::TestWithParam<const Family*> {};

TEST_P(Sha2FamilyTest, EmptyUpdateWithNullDataIsTheEmptyMessage) {
  const Family& f = *GetParam();
  std::vector<std::vector<sha2_byte>> none;
  std::string expected = f.hex(none);
  EXPECT_EQ(expected, EvpHex(f.evp_name, {}));
  // Update(ctx, null, 0) must do nothing at all.
  if (&f == &kSha256) {
    SHA256_CTX ctx;
    SHA256_Init(&ctx);
    SHA256_Update(&ctx, nullptr, 0);
    char text[65];
    SHA256_End(&ctx, text);
    EXPECT_EQ(expected, text);
  } else {
    SHA512_CTX ctx;
    (&f == &kSha384 ? SHA384_Init : SHA512_Init)(&ctx);
    SHA512_Update(&ctx, nullptr, 0);
    char text[129];
    (&f == &kSha384 ? SHA384_End : SHA512_End)(&ctx, text);
    EXPECT_EQ(expected, text);
  }
}

TEST_P(Sha2FamilyTest, LengthsAroundThePaddingBoundaryMatchEvp) {
  // Tails that leave no room for the length field need an extra block;
  // cover every tail length over two blocks.
  const Family& f = *GetParam();
  std::mt19937 rng(7);
  for (std::size_t len = 0; len <= 2 * f.block_length + 1; ++len) {
    std::vector<sha2_byte> msg(len);
    for (auto& b : msg) b = sha2_byte(rng());
    EXPECT_EQ(f.hex({msg}), EvpHex(f.evp_name, msg)) << "length " << len;
  }
}

TEST_P(Sha2FamilyTest, EverySplitOfAMessageGivesTheSameDigest) {
  const Family& f = *GetParam();
  std::mt19937 rng(11);
  std::vector<sha2_byte> msg(3 * f.block_length + 5);
  for (auto& b : msg) b = sha2_byte(rng());
  const std::string whole = EvpHex(f.evp_name, msg);
  for (std::size_t a = 0; a <= msg.size(); a += 3) {
    for (std::size_t b = a; b <= msg.size(); b += 7) {
      std::vector<std::vector<sha2_byte>> pieces{{msg.begin(), msg.begin() + a},
                                                 {msg.begin() + a, msg.begin() + b},
                                                 {msg.begin() + b, msg.end()}};
      ASSERT_EQ(f.hex(pieces), whole) << "split at " << a << " and " << b;
    }
  }
  std::vector<std::vector<sha2_byte>> bytewise;
  for (sha2_byte c : msg) bytewise.push_back({c});
  EXPECT_EQ(f.hex(bytewise), whole);
}

TEST_P(Sha2FamilyTest, RandomMessagesMatchEvp) {
  const Family& f = *GetParam();
  std::mt19937_64 rng(2024);
  for (int round = 0; round < 200; ++round) {
    std::vector<sha2_byte> msg(rng() % 5000);
    for (auto& b : msg) b = sha2_byte(rng());
    std::string text(f.digest_length * 2 + 1, '\0');
    f.data(msg.data(), msg.size(), text.data());
    text.pop_back();
    ASSERT_EQ(text, EvpHex(f.evp_name, msg)) << "length " << msg.size();
  }
}

TEST_P(Sha2FamilyTest, DataWithNullBufferReturnsNull) {
  const Family& f = *GetParam();
  const sha2_byte msg[] = {'a', 'b', 'c'};
  EXPECT_EQ(f.data(msg, sizeof msg, nullptr), nullptr);
}

INSTANTIATE_TEST_SUITE_P(AllDigests, Sha2FamilyTest,
                         ::testing::Values(&kSha256, &kSha384, &kSha512),
                         [](const auto& info) { return std::string(info.param->name); });

template <typename Ctx>
bool AllZero(const Ctx& ctx) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(&ctx);
  for (std::size_t i = 0; i < sizeof ctx; ++i)
    if (p[i] != 0) return false;
  return true;
}

TEST(Sha2Test, ContextIsWipedAfterFinalAndEnd) {
  const sha2_byte msg[] = "some secret pass phrase";
  sha2_byte digest[64];
  char text[129];

  SHA256_CTX c256;
  SHA256_Init(&c256);
  SHA256_Update(&c256, msg, sizeof msg);
  SHA256_Final(digest, &c256);
  EXPECT_TRUE(AllZero(c256));
  SHA256_Init(&c256);
  SHA256_Update(&c256, msg, sizeof msg);
  SHA256_Final(nullptr, &c256);
  EXPECT_TRUE(AllZero(c256));

  SHA384_CTX c384;
  SHA384_Init(&c384);
  SHA384_Update(&c384, msg, sizeof msg);
  SHA384_End(&c384, text);
  EXPECT_TRUE(AllZero(c384));
  SHA384_Init(&c384);
  SHA384_Update(&c384, msg, sizeof msg);
  EXPECT_EQ(SHA384_End(&c384, nullptr), nullptr);
  EXPECT_TRUE(AllZero(c384));

  SHA512_CTX c512;
  SHA512_Init(&c512);
  SHA512_Update(&c512, msg, sizeof msg);
  SHA512_Final(digest, &c512);
  EXPECT_TRUE(AllZero(c512));
}

TEST(Sha2Test, Sha384EndWrites96LowercaseDigitsAndReturnsTheNul) {
  char text[97];
  std::memset(text, 'X', sizeof text);
  SHA384_CTX ctx;
  SHA384_Init(&ctx);
  SHA384_Update(&ctx, reinterpret_cast<const sha2_byte*>("abc"), 3);
  char* end = SHA384_End(&ctx, text);
  EXPECT_EQ(end, text + 96);
  EXPECT_EQ(text[96], '\0');
  EXPECT_EQ(std::strspn(text, sha2_hex_digits), 96u);
  EXPECT_STREQ(sha2_hex_digits, "0123456789abcdef");
}

TEST(Sha2Test, InitOfNullContextDoesNothing) {
  SHA256_Init(nullptr);
  SHA384_Init(nullptr);
  SHA512_Init(nullptr);
  SUCCEED();
}

TEST(Sha2Test, BitCountCarriesIntoTheHighWord) {
  // Start from a count just below 2^64 bits; one more block must carry.
  SHA512_CTX ctx;
  SHA512_Init(&ctx);
  ctx.bitcount[0] = ~uint64_t(0) - 1023;  // a whole number of bytes and blocks
  sha2_byte block[256] = {};
  SHA512_Update(&ctx, block, sizeof block);
  EXPECT_EQ(ctx.bitcount[1], 1u);
  EXPECT_EQ(ctx.bitcount[0], uint64_t(2048 - 1024));
}

// Our functions are C++ symbols of their own; libcrypto's deprecated
// SHA256_Init and kin are a different extern "C" symbol. Prove the call
// lands in our code and that libcrypto's export is a distinct function.
TEST(Sha2Test, OurEntryPointsDoNotResolveToLibcrypto) {
  // Make sure libcrypto is loaded in this process.
  EVP_MD_free(EVP_MD_fetch(nullptr, "SHA256", nullptr));
  struct Named {
    const char* c_name;
    void* ours;
  } named[] = {
      {"SHA256_Init", reinterpret_cast<void*>(&SHA256_Init)},
      {"SHA256_Update", reinterpret_cast<void*>(&SHA256_Update)},
      {"SHA256_Final", reinterpret_cast<void*>(&SHA256_Final)},
      {"SHA384_Init", reinterpret_cast<void*>(&SHA384_Init)},
      {"SHA512_Init", reinterpret_cast<void*>(&SHA512_Init)},
      {"SHA512_Update", reinterpret_cast<void*>(&SHA512_Update)},
      {"SHA512_Final", reinterpret_cast<void*>(&SHA512_Final)},
  };
  for (const auto& n : named) {
    Dl_info info{};
    ASSERT_NE(dladdr(n.ours, &info), 0) << n.c_name;
    ASSERT_NE(info.dli_fname, nullptr);
    EXPECT_EQ(std::strstr(info.dli_fname, "libcrypto"), nullptr)
        << n.c_name << " resolved into " << info.dli_fname;
    void* theirs = dlsym(RTLD_DEFAULT, n.c_name);
    EXPECT_NE(theirs, n.ours) << n.c_name;
  }
  // And the call behaves as ours: only our Final wipes the whole context.
  SHA256_CTX ctx;
  SHA256_Init(&ctx);
  EXPECT_EQ(ctx.state[0], 0x6a09e667u);
  SHA256_Update(&ctx, reinterpret_cast<const sha2_byte*>("abc"), 3);
  EXPECT_EQ(ctx.bitcount, 24u);
  SHA256_Final(nullptr, &ctx);
  EXPECT_TRUE(AllZero(ctx));
}

// The module runs the first compression the host supports; the digests
// above test that one, this ties every other available one to the
// portable build.
TEST(Sha2Test, EveryAvailableCompressionAgreesWithThePortableOne) {
  std::mt19937_64 rng(77);
  const auto& v256 = sha2_detail::kCompress256Variants;
  const auto& v512 = sha2_detail::kCompress512Variants;
  const std::size_t n256 = sha2_detail::kCompress256VariantCount;
  const std::size_t n512 = sha2_detail::kCompress512VariantCount;
  ASSERT_STREQ(v256[n256 - 1].name, "portable");
  ASSERT_STREQ(v512[n512 - 1].name, "portable");
  int compared = 0;
  for (std::size_t blocks : {1u, 2u, 3u, 17u}) {
    std::vector<sha2_byte> data(blocks * 128);
    for (auto& b : data) b = static_cast<sha2_byte>(rng());
    uint32_t init256[8];
    uint64_t init512[8];
    for (int i = 0; i < 8; ++i) {
      init256[i] = static_cast<uint32_t>(rng());
      init512[i] = rng();
    }
    uint32_t want256[8];
    std::memcpy(want256, init256, sizeof want256);
    v256[n256 - 1].compress(want256, data.data(), blocks * 2);
    for (std::size_t v = 0; v + 1 < n256; ++v) {
      if (!v256[v].available()) continue;
      uint32_t got[8];
      std::memcpy(got, init256, sizeof got);
      v256[v].compress(got, data.data(), blocks * 2);
      EXPECT_EQ(std::memcmp(got, want256, sizeof got), 0) << v256[v].name << " " << blocks;
      ++compared;
    }
    uint64_t want512[8];
    std::memcpy(want512, init512, sizeof want512);
    v512[n512 - 1].compress(want512, data.data(), blocks);
    for (std::size_t v = 0; v + 1 < n512; ++v) {
      if (!v512[v].available()) continue;
      uint64_t got[8];
      std::memcpy(got, init512, sizeof got);
      v512[v].compress(got, data.data(), blocks);
      EXPECT_EQ(std::memcmp(got, want512, sizeof got), 0) << v512[v].name << " " << blocks;
      ++compared;
    }
  }
  if (compared == 0) GTEST_SKIP() << "only the portable compressions run on this host";
}

using Sha2DeathTest = ::testing::Test;

TEST(Sha2DeathTest, NullContextsAreProgrammingErrors) {
  const sha2_byte msg[] = {1, 2, 3};
  char text[129];
  sha2_byte digest[64];
  EXPECT_DEATH(SHA256_Update(nullptr, msg, 3),
               "\\(context != \\(SHA256_CTX\\*\\)0 && data != \\(sha2_byte\\*\\)0\\).*file "
               "encryption/sha2,");
  SHA256_CTX c256;
  SHA256_Init(&c256);
  EXPECT_DEATH(SHA256_Update(&c256, nullptr, 3),
               "\\(context != \\(SHA256_CTX\\*\\)0 && data != \\(sha2_byte\\*\\)0\\)");
  EXPECT_DEATH(SHA512_Update(nullptr, msg, 3),
               "\\(context != \\(SHA512_CTX\\*\\)0 && data != \\(sha2_byte\\*\\)0\\)");
  EXPECT_DEATH(SHA384_Update(nullptr, msg, 3),
               "\\(context != \\(SHA512_CTX\\*\\)0 && data != \\(sha2_byte\\*\\)0\\)");
  EXPECT_DEATH(SHA256_Final(digest, nullptr), "\\(context != \\(SHA256_CTX\\*\\)0\\)");
  EXPECT_DEATH(SHA256_End(nullptr, text), "\\(context != \\(SHA256_CTX\\*\\)0\\)");
  EXPECT_DEATH(SHA384_Final(digest, nullptr), "\\(context != \\(SHA384_CTX\\*\\)0\\)");
  EXPECT_DEATH(SHA384_End(nullptr, text), "\\(context != \\(SHA384_CTX\\*\\)0\\)");
  EXPECT_DEATH(SHA512_Final(digest, nullptr), "\\(context != \\(SHA512_CTX\\*\\)0\\)");
  EXPECT_DEATH(SHA512_End(nullptr, text), "\\(context != \\(SHA512_CTX\\*\\)0\\)");
}

}  // namespace
