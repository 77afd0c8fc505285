#include "builder_package/ProtectedSWF.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "builder_package/RecordBytes_test.h"
#include "encryption/Base64.h"
#include "encryption/OpenSslBlowfish_test.h"
#include "system/RandomBytes_test.h"
#include "system/TempDir_test.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr int K = 128;
constexpr int M = 86;

ProtectedSWF::Packed PackOrDie(const Bytes& swf) {
  ProtectedSWF::Packed packed;
  EXPECT_TRUE(ProtectedSWF::Pack(swf.data(), static_cast<int>(swf.size()), "pass", packed));
  return packed;
}

// A program packed once for the tests that only read its packing: 5000
// bytes, so its text ends in "=" and its blocks include RSA block 48. The
// codec reads no SWF header, so the programs here are any bytes.
const Bytes kSample = RandomBytes(5000, 9);

const ProtectedSWF::Packed& Sample() {
  static const ProtectedSWF::Packed packed = PackOrDie(kSample);
  return packed;
}

// The stored key text, unscrambled here independently of the codec.
std::string PemOf(const ProtectedSWF::Packed& packed) {
  const Bytes pem = recordbytes::Scrambled(packed.keyText, 63);
  return std::string(pem.begin(), pem.end());
}

using vello_test::OpenSslBase64;

// Decrypts one RSA block with OpenSSL straight from the PEM text; empty
// when it does not decrypt.
std::string RsaDecrypt(const std::string& pem, const unsigned char* block) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
  EVP_PKEY_CTX* ctx = key ? EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr) : nullptr;
  std::string out(K, '\0');
  std::size_t n = out.size();
  const bool ok = ctx && EVP_PKEY_decrypt_init(ctx) > 0 &&
                  EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING) > 0 &&
                  EVP_PKEY_decrypt(ctx, reinterpret_cast<unsigned char*>(out.data()), &n, block,
                                   K) > 0;
  EVP_PKEY_CTX_free(ctx);
  EVP_PKEY_free(key);
  BIO_free(bio);
  out.resize(ok ? n : 0);
  return out;
}

// A Blowfish block deciphered by OpenSSL, keyed with PEM bytes 48..79.
Bytes BlowfishDecrypt(const std::string& pem, const unsigned char* block) {
  const std::string key = pem.substr(48, 32);
  return vello_test::SwapHalves(vello_test::OpenSslBf("BF-ECB", false, Bytes(key.begin(), key.end()),
                                                      {}, vello_test::SwapHalves(Bytes(block, block + K))));
}

// What the reader must produce, rebuilt from the payload: the program's
// text, plus a final Blowfish block's filler (the previous block's bytes
// at those positions), decoded by the lenient rules.
Bytes ExpectedDecoded(const Bytes& swf, const ProtectedSWF::Packed& packed) {
  std::string text = OpenSslBase64(swf);
  const std::size_t blocks = packed.payload.size() / K;
  const std::size_t r = text.size() % M;
  if (r != 0 && (blocks - 1) % 48 != 0) {
    const unsigned char* previous = packed.payload.data() + (blocks - 2) * K;
    text.append(previous + r, previous + M);
  }
  const std::string decoded = Base64::decode(text);
  return Bytes(decoded.begin(), decoded.end());
}

// Every size in one sweep: block count, block kinds, the filler rule in
// every Blowfish block (OpenSSL deciphering), and the decoded bytes: the
// exact program unless the precise filler case. Parameters: the program's
// size and its number of blocks.
class ProtectedSWFSizes : public ::testing::TestWithParam<std::pair<int, std::size_t>> {};

TEST_P(ProtectedSWFSizes, PacksIntoBlocksAndUnpacksByTheRules) {
  const auto [n, blocks] = GetParam();
  const Bytes swf = RandomBytes(static_cast<std::size_t>(n), static_cast<unsigned>(n));
  const ProtectedSWF::Packed packed = PackOrDie(swf);
  const std::string text = OpenSslBase64(swf);
  const std::size_t L = text.size();
  ASSERT_EQ(packed.payload.size(), blocks * K);

  const std::string pem = PemOf(packed);
  for (std::size_t i = 0; i < blocks; ++i) {
    const unsigned char* block = packed.payload.data() + i * K;
    const std::size_t chunk = std::min<std::size_t>(M, L - i * M);
    const std::string expectedText = text.substr(i * M, chunk);
    if (i % 48 == 0) {
      EXPECT_EQ(RsaDecrypt(pem, block), expectedText) << "RSA block " << i;
    } else {
      const Bytes plain = BlowfishDecrypt(pem, block);
      ASSERT_EQ(plain.size(), static_cast<std::size_t>(K));
      EXPECT_EQ(std::string(plain.begin(), plain.begin() + chunk), expectedText) << "block " << i;
      // The filler is the previous block as written, at the same places.
      const unsigned char* previous = block - K;
      EXPECT_TRUE(std::equal(plain.begin() + chunk, plain.end(), previous + chunk))
          << "filler of block " << i;
    }
  }

  // Straight into a buffer: the decoded bytes, and the rest left alone.
  const int length = static_cast<int>(packed.payload.size());
  Bytes out(packed.payload.size(), 0xAB);
  int decoded = -1;
  ASSERT_TRUE(ProtectedSWF::Unpack(packed.payload.data(), length, packed.keyText.data(),
                                   static_cast<int>(packed.keyText.size()), out.data(), length,
                                   decoded));
  const Bytes expected = ExpectedDecoded(swf, packed);
  ASSERT_EQ(decoded, static_cast<int>(expected.size()));
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
  EXPECT_EQ(Bytes(out.begin() + decoded, out.end()), Bytes(out.size() - expected.size(), 0xAB));
  // The program, followed by bytes decoded from filler only for a multiple
  // of 3 whose text ends in a partial Blowfish block.
  const bool lastIsPartialBlowfish = L % M != 0 && (blocks - 1) % 48 != 0;
  ASSERT_GE(expected.size(), swf.size());
  EXPECT_EQ(Bytes(expected.begin(), expected.begin() + n), swf);
  EXPECT_EQ(expected.size() > swf.size(), n % 3 == 0 && lastIsPartialBlowfish);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ProtectedSWFSizes,
    ::testing::Values(std::pair{0, 0u}, std::pair{3, 1u},    // empty; one group
                      std::pair{63, 1u}, std::pair{64, 2u},  // largest single block; two
                      std::pair{129, 2u},                    // text 2 x 86, no partial block
                      std::pair{999, 16u},                   // multiple of 3, final Blowfish
                      std::pair{1000, 16u},                  // 2,048 bytes
                      std::pair{1001, 16u},                  // final Blowfish, text ends in "="
                      std::pair{3126, 49u},                  // text 48 x 86 + 40: final RSA block
                      std::pair{3300, 52u},                  // chunks 47, 48 (RSA) and 49
                      std::pair{3 * 43 * 49, 98u}),          // text 98 x 86: RSA 0, 48 and 96
    [](const auto& info) { return "n" + std::to_string(info.param.first); });

TEST(ProtectedSWF, TwoPackingsDifferEverywhere) {
  const ProtectedSWF::Packed& a = Sample();
  const ProtectedSWF::Packed b = PackOrDie(kSample);
  ASSERT_EQ(a.payload.size(), b.payload.size());
  EXPECT_NE(a.keyText, b.keyText);
  for (std::size_t i = 0; i < b.payload.size(); i += 8)
    EXPECT_FALSE(
        std::equal(b.payload.begin() + i, b.payload.begin() + i + 8, a.payload.begin() + i))
        << "8 bytes at " << i;
}

TEST(ProtectedSWF, PackRefusesBadArgumentsLeavingOutput) {
  const Bytes swf = RandomBytes(100, 3);
  ProtectedSWF::Packed out;
  out.payload = {1, 2, 3};
  out.keyText = {4};
  EXPECT_FALSE(ProtectedSWF::Pack(swf.data(), 100, "", out));
  EXPECT_FALSE(ProtectedSWF::Pack(swf.data(), -1, "pass", out));
  EXPECT_FALSE(ProtectedSWF::Pack(nullptr, 5, "pass", out));
  EXPECT_EQ(out.payload, (RunBytes{1, 2, 3}));
  EXPECT_EQ(out.keyText, (Bytes{4}));
}

// Each bad input fails and leaves the output as it was; capacity is the
// buffer's size less shortBy.
void ExpectRefused(const Bytes& payload, const Bytes& keyText, const char* what,
                   int shortBy = 0) {
  Bytes out(payload.size() + 1, 0x5A);
  int n = -1;
  EXPECT_FALSE(ProtectedSWF::Unpack(payload.data(), static_cast<int>(payload.size()),
                                    keyText.data(), static_cast<int>(keyText.size()), out.data(),
                                    static_cast<int>(out.size()) - shortBy, n))
      << what;
  EXPECT_EQ(out, Bytes(payload.size() + 1, 0x5A)) << what;
  EXPECT_EQ(n, -1) << what;
}

TEST(ProtectedSWF, BadKeyTextOrPayloadIsRefused) {
  const Bytes payload(Sample().payload.begin(), Sample().payload.end());
  const Bytes& keyText = Sample().keyText;

  ExpectRefused(payload, Bytes(keyText.begin(), keyText.begin() + 79), "key text of 79 bytes");
  ExpectRefused(payload, Bytes(keyText.begin(), keyText.begin() + 200), "truncated key text");
  ExpectRefused(payload, Bytes(keyText.size(), 'A'), "garbage key text");
  ExpectRefused(payload, Bytes(keyText.rbegin(), keyText.rend()), "reversed key text");
  Bytes body = keyText;
  for (std::size_t i = 100; i < 400; ++i) body[i] ^= 0x01;  // inside the Base64 body
  ExpectRefused(payload, body, "corrupted key body");
  ExpectRefused(payload, recordbytes::NewKeyText(nullptr), "key of another pair");
  ExpectRefused(payload, recordbytes::NewKeyText(EVP_aes_128_cbc()), "key behind a pass phrase");
  ExpectRefused(Bytes(payload.begin() + 1, payload.end()), keyText, "payload shifted");
  Bytes corrupt = payload;
  corrupt[5] ^= 0x80;  // inside RSA block 0
  ExpectRefused(corrupt, keyText, "corrupted RSA block");
  ExpectRefused(Bytes(K, 0), keyText, "zero block");
  ExpectRefused(payload, keyText, "buffer shorter than the payload", 2);
  RunBytes decoded = {7, 7, 7};
  EXPECT_FALSE(ProtectedSWF::Unpack(payload.data(), K, keyText.data(), 79, decoded));
  EXPECT_EQ(decoded, (RunBytes{7, 7, 7}));
}

// Only RSA blocks can be checked: bytes after the last whole block are
// ignored, and damaged Blowfish blocks (1 to 47) decode to other bytes,
// never past the capacity given.
TEST(ProtectedSWF, ChangesOutsideTheRsaBlocksPassUnseenButStayInBounds) {
  for (int extra : {1, K - 1}) {
    ProtectedSWF::Packed packed = Sample();
    packed.payload.resize(packed.payload.size() + extra, 0x3D);  // "=" would stop a decoder
    RunBytes decoded;
    ASSERT_TRUE(ProtectedSWF::Unpack(packed.payload.data(), static_cast<int>(packed.payload.size()),
                                     packed.keyText.data(), static_cast<int>(packed.keyText.size()),
                                     decoded));
    EXPECT_EQ(Bytes(decoded.begin(), decoded.end()), kSample) << extra;
  }
  ProtectedSWF::Packed packed = Sample();
  for (std::size_t i = K; i < 48 * K; ++i) packed.payload[i] = static_cast<unsigned char>(i * 7);
  const int length = static_cast<int>(packed.payload.size());
  Bytes out(packed.payload.size() + 16, 0x5A);
  int n = -1;
  ASSERT_TRUE(ProtectedSWF::Unpack(packed.payload.data(), length, packed.keyText.data(),
                                   static_cast<int>(packed.keyText.size()), out.data(), length, n));
  // Block 0 still decodes to the program's first 63 bytes.
  ASSERT_GE(n, 63);
  EXPECT_TRUE(std::equal(kSample.begin(), kSample.begin() + 63, out.begin()));
  EXPECT_EQ(Bytes(out.begin() + length, out.end()), Bytes(16, 0x5A));
}

// The openssl command, an independent peer, reads the unscrambled key as a
// 1024-bit RSA key of exponent 65537 in the traditional form, byte for byte.
TEST(ProtectedSWF, OpenSslCommandReadsTheKeyAsTraditional1024BitRsa) {
  if (std::system("command -v openssl >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "the openssl command is not installed";
  TempDir dir;
  const Bytes pem = recordbytes::Scrambled(Sample().keyText, 63);
  dir.Write("key.pem", pem);
  const std::string d = dir.path().string() + "/";
  const std::string commands[] = {
      "openssl rsa -in " + d + "key.pem -traditional -out " + d + "again.pem 2>/dev/null",
      "openssl rsa -in " + d + "key.pem -noout -text > " + d + "text.txt"};
  for (const std::string& command : commands) ASSERT_EQ(std::system(command.c_str()), 0) << command;
  EXPECT_EQ(TempDir::ReadAll(dir.File("again.pem")), pem);
  const Bytes bytes = TempDir::ReadAll(dir.File("text.txt"));
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_NE(text.find("Private-Key: (1024 bit"), std::string::npos);
  EXPECT_NE(text.find("publicExponent: 65537 (0x10001)"), std::string::npos);
}

}  // namespace
