#include "encryption/sha2.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "encryption/sha2_detail.h"

namespace {

using Message = std::vector<sha2_byte>;

// One digest family behind a uniform face, so every test runs for all three.
struct Family {
  const char* name;  // also the EVP name
  std::size_t digest_length;
  std::size_t block_length;
  std::string (*hex)(const std::vector<Message>& pieces);
  std::string (*binary)(const Message& message);  // as hex text
  char* (*data)(const sha2_byte*, std::size_t, char*);
  void (*expect_wiped)();
};

template <typename Ctx, void (*Init)(Ctx*), void (*Update)(Ctx*, const sha2_byte*, std::size_t),
          char* (*End)(Ctx*, char*), std::size_t kLength>
std::string HexOf(const std::vector<Message>& pieces) {
  Ctx ctx;
  Init(&ctx);
  Update(&ctx, nullptr, 0);  // an empty update does nothing, null data included
  for (const auto& piece : pieces) Update(&ctx, piece.data(), piece.size());
  std::string text(kLength * 2 + 8, 'X');
  char* end = End(&ctx, text.data());
  EXPECT_EQ(end, text.data() + kLength * 2);
  EXPECT_EQ(*end, '\0');
  text.resize(kLength * 2);
  return text;
}

std::string HexOfBytes(const unsigned char* p, std::size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

template <typename Ctx, void (*Init)(Ctx*), void (*Update)(Ctx*, const sha2_byte*, std::size_t),
          void (*Final)(sha2_byte*, Ctx*), std::size_t kLength>
std::string BinaryOf(const Message& message) {
  Ctx ctx;
  Init(&ctx);
  Update(&ctx, message.data(), message.size());
  sha2_byte digest[kLength];
  Final(digest, &ctx);
  return HexOfBytes(digest, kLength);
}

// Final, Final without a digest, End and End without a buffer all leave
// the context zeroed; Init of a null context does nothing.
template <typename Ctx, void (*Init)(Ctx*), void (*Update)(Ctx*, const sha2_byte*, std::size_t),
          void (*Final)(sha2_byte*, Ctx*), char* (*End)(Ctx*, char*)>
void ExpectWipedAfterFinish() {
  Init(nullptr);
  const sha2_byte msg[] = "some secret pass phrase";
  sha2_byte digest[64];
  char text[129];
  for (int how = 0; how < 4; ++how) {
    Ctx ctx;
    Init(&ctx);
    Update(&ctx, msg, sizeof msg);
    if (how < 2) {
      Final(how == 0 ? digest : nullptr, &ctx);
    } else {
      EXPECT_EQ(End(&ctx, how == 2 ? text : nullptr) == nullptr, how == 3);
    }
    const Ctx zero{};
    EXPECT_EQ(std::memcmp(&ctx, &zero, sizeof ctx), 0) << "finish " << how;
  }
}

#define SHA2_FAMILY(N, CTX, L, B)                                                                 \
  Family {                                                                                        \
    "SHA" #N, L, B, HexOf<CTX, SHA##N##_Init, SHA##N##_Update, SHA##N##_End, L>,                  \
        BinaryOf<CTX, SHA##N##_Init, SHA##N##_Update, SHA##N##_Final, L>, SHA##N##_Data,          \
        ExpectWipedAfterFinish<CTX, SHA##N##_Init, SHA##N##_Update, SHA##N##_Final, SHA##N##_End> \
  }
const Family kSha256 = SHA2_FAMILY(256, SHA256_CTX, 32, 64);
const Family kSha384 = SHA2_FAMILY(384, SHA384_CTX, 48, 128);
const Family kSha512 = SHA2_FAMILY(512, SHA512_CTX, 64, 128);
#undef SHA2_FAMILY

// Independent peer: OpenSSL's EVP digest of the same bytes.
std::string EvpHex(const char* name, const Message& message) {
  unsigned char md[EVP_MAX_MD_SIZE];
  std::size_t len = 0;
  EXPECT_EQ(EVP_Q_digest(nullptr, name, nullptr, message.data(), message.size(), md, &len), 1);
  return HexOfBytes(md, len);
}

Message RandomMessage(std::mt19937_64& rng, std::size_t n) {
  Message msg(n);
  for (auto& b : msg) b = sha2_byte(rng());
  return msg;
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

TEST(Sha2Test, PublishedDigestsThroughEveryEntryPoint) {
  for (const Vector& v : kVectors) {
    const Family& f = *v.family;
    SCOPED_TRACE(std::string(f.name) + " of " + std::to_string(v.message.size()) + " bytes");
    const Message message(v.message.begin(), v.message.end());
    EXPECT_EQ(f.hex({message}), v.digest);
    EXPECT_EQ(f.binary(message), v.digest);
    std::string text(f.digest_length * 2 + 1, 'X');
    EXPECT_EQ(f.data(message.data(), message.size(), text.data()),
              text.data() + f.digest_length * 2);
    EXPECT_STREQ(text.c_str(), v.digest);
  }
}

class Sha2FamilyTest : public ::testing::TestWithParam<const Family*> {};

TEST_P(Sha2FamilyTest, MessagesOfEveryTailAndInAnyPiecesMatchEvp) {
  const Family& f = *GetParam();
  std::mt19937_64 rng(2024);
  // Every tail length over two blocks: tails that leave no room for the
  // length field need an extra block.
  for (std::size_t len = 0; len <= 2 * f.block_length + 1; ++len) {
    Message msg = RandomMessage(rng, len);
    ASSERT_EQ(f.hex({msg}), EvpHex(f.name, msg)) << "length " << len;
  }
  EXPECT_EQ(f.data(reinterpret_cast<const sha2_byte*>("abc"), 3, nullptr), nullptr);
  // Every split of one message into three pieces, and one byte at a time.
  Message msg = RandomMessage(rng, 3 * f.block_length + 5);
  const std::string whole = EvpHex(f.name, msg);
  for (std::size_t a = 0; a <= msg.size(); a += 3) {
    for (std::size_t b = a; b <= msg.size(); b += 7) {
      std::vector<Message> pieces{{msg.begin(), msg.begin() + a},
                                  {msg.begin() + a, msg.begin() + b},
                                  {msg.begin() + b, msg.end()}};
      ASSERT_EQ(f.hex(pieces), whole) << "split at " << a << " and " << b;
    }
  }
  std::vector<Message> bytewise;
  for (sha2_byte c : msg) bytewise.push_back({c});
  EXPECT_EQ(f.hex(bytewise), whole);
}

TEST_P(Sha2FamilyTest, ContextIsWipedAfterFinalAndEnd) { GetParam()->expect_wiped(); }

INSTANTIATE_TEST_SUITE_P(AllDigests, Sha2FamilyTest,
                         ::testing::Values(&kSha256, &kSha384, &kSha512),
                         [](const auto& info) { return std::string(info.param->name); });

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

// Our functions are C++ symbols of their own, distinct from libcrypto's
// deprecated extern "C" SHA256_Init and kin.
TEST(Sha2Test, OurEntryPointsDoNotResolveToLibcrypto) {
  EVP_MD_free(EVP_MD_fetch(nullptr, "SHA256", nullptr));  // libcrypto is loaded
  const std::pair<const char*, void*> named[] = {
      {"SHA256_Init", reinterpret_cast<void*>(&SHA256_Init)},
      {"SHA256_Update", reinterpret_cast<void*>(&SHA256_Update)},
      {"SHA384_Init", reinterpret_cast<void*>(&SHA384_Init)},
      {"SHA512_Final", reinterpret_cast<void*>(&SHA512_Final)},
  };
  for (const auto& [c_name, ours] : named) {
    Dl_info info{};
    ASSERT_NE(dladdr(ours, &info), 0) << c_name;
    ASSERT_NE(info.dli_fname, nullptr);
    EXPECT_EQ(std::strstr(info.dli_fname, "libcrypto"), nullptr)
        << c_name << " in " << info.dli_fname;
    EXPECT_NE(dlsym(RTLD_DEFAULT, c_name), ours) << c_name;
  }
}

// Ties every other compression the host can run to the portable one.
template <typename Word, typename Fn>
int CompareWithPortable(const sha2_detail::Variant<Fn>* variants, std::size_t count,
                        std::size_t block_length) {
  EXPECT_STREQ(variants[count - 1].name, "portable");
  std::mt19937_64 rng(77);
  int compared = 0;
  // Lone blocks, pairs, pairs followed by a lone block, and runs long
  // enough that one pair's schedule is made during another's rounds; the
  // blocks start at an odd address.
  for (std::size_t blocks : {1u, 2u, 3u, 4u, 5u, 6u, 17u}) {
    Message data = RandomMessage(rng, blocks * block_length + 1);
    const sha2_byte* first = data.data() + 1;
    std::array<Word, 8> init;
    for (auto& w : init) w = static_cast<Word>(rng());
    std::array<Word, 8> want = init;
    variants[count - 1].compress(want.data(), first, blocks);
    for (std::size_t v = 0; v + 1 < count; ++v) {
      if (!variants[v].available()) continue;
      std::array<Word, 8> got = init;
      variants[v].compress(got.data(), first, blocks);
      EXPECT_EQ(got, want) << variants[v].name << " " << blocks;
      ++compared;
    }
  }
  return compared;
}

TEST(Sha2Test, EveryAvailableCompressionAgreesWithThePortableOne) {
  using namespace sha2_detail;
  const int compared =
      CompareWithPortable<uint32_t>(kCompress256Variants, kCompress256VariantCount, 64) +
      CompareWithPortable<uint64_t>(kCompress512Variants, kCompress512VariantCount, 128);
  if (compared == 0) GTEST_SKIP() << "only the portable compressions run on this host";
}

}  // namespace
