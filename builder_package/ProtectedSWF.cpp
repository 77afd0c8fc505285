#include "builder_package/ProtectedSWF.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "builder_package/Scramble.h"
#include "encryption/Base64.h"
#include "encryption/Blowfish.h"

namespace ProtectedSWF {

namespace {

constexpr int kRsaBits = 1024;
constexpr unsigned long kRsaExponent = 65537;
constexpr int kOaepOverhead = 42;  // OAEP with SHA-1: 2 * 20 + 2
constexpr int kRsaPeriod = 48;     // chunk i is an RSA chunk when i % 48 == 0
constexpr int kBlowfishKeyOffset = 48;
constexpr int kBlowfishKeyLength = 32;
constexpr int kMinKeyText = kBlowfishKeyOffset + kBlowfishKeyLength;
constexpr int kWriterBlockBuffer = 2048;

struct Free {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
  void operator()(BIO* p) const { BIO_free_all(p); }
  void operator()(BIGNUM* p) const { BN_free(p); }
};
using PKey = std::unique_ptr<EVP_PKEY, Free>;
using PKeyCtx = std::unique_ptr<EVP_PKEY_CTX, Free>;
using Bio = std::unique_ptr<BIO, Free>;
using BigNum = std::unique_ptr<BIGNUM, Free>;

// Bytes that may hold secrets (key text, plain text); wiped on release.
class Secret {
 public:
  explicit Secret(std::size_t n = 0) : m_bytes(n, 0) {}
  ~Secret() { Wipe(); }
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;
  unsigned char* data() { return m_bytes.data(); }
  std::size_t size() const { return m_bytes.size(); }
  void Wipe() { OPENSSL_cleanse(m_bytes.data(), m_bytes.size()); }

 private:
  std::vector<unsigned char> m_bytes;
};

// Clears what a failed OpenSSL call left on this thread's error queue: a
// false result is the whole report.
bool Fail() {
  ERR_clear_error();
  return false;
}

// The Blowfish key: 32 characters of the PEM text, zero-terminated.
void KeyBlowfish(Vello::Encryption::Blowfish& bf, const unsigned char* pem) {
  char key[kBlowfishKeyLength + 1];
  std::memcpy(key, pem + kBlowfishKeyOffset, kBlowfishKeyLength);
  key[kBlowfishKeyLength] = '\0';
  bf.SetPassword(key);
  OPENSSL_cleanse(key, sizeof key);
}

PKeyCtx OaepContext(EVP_PKEY* key, bool encrypt) {
  PKeyCtx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
  if (!ctx) return nullptr;
  const int init = encrypt ? EVP_PKEY_encrypt_init(ctx.get()) : EVP_PKEY_decrypt_init(ctx.get());
  // OAEP's digest stays OpenSSL's default, SHA-1, as stored payloads need.
  if (init <= 0 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING) <= 0)
    return nullptr;
  return ctx;
}

PKey GenerateKey() {
  PKeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  BigNum e(BN_new());
  if (!ctx || !e || BN_set_word(e.get(), kRsaExponent) != 1 ||
      EVP_PKEY_keygen_init(ctx.get()) <= 0 ||
      EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), kRsaBits) <= 0 ||
      EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), e.get()) <= 0)
    return nullptr;
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_generate(ctx.get(), &key) <= 0) return nullptr;
  return PKey(key);
}

// A key text that asks for a pass phrase is refused rather than prompting
// on the terminal.
int NoPassPhrase(char*, int, int, void*) { return -1; }

}  // namespace

Packed::~Packed() { OPENSSL_cleanse(keyText.data(), keyText.size()); }

bool Pack(const unsigned char* swf, int n, const std::string& text, Packed& out) {
  if (n < 0 || (swf == nullptr && n > 0) || text.empty()) return false;

  PKey key = GenerateKey();
  if (!key) return Fail();

  Bio bio(BIO_new(BIO_s_mem()));
  if (!bio) return Fail();
  // No cipher, so the callback data has no effect on the text.
  if (PEM_write_bio_PrivateKey_traditional(bio.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                           const_cast<char*>(text.c_str())) != 1)
    return Fail();
  char* pemData = nullptr;
  const long pemLength = BIO_get_mem_data(bio.get(), &pemData);
  // Wipe the BIO's unscrambled copy whichever way this returns.
  struct WipeBio {
    char* p;
    long n;
    ~WipeBio() {
      if (p != nullptr && n > 0) OPENSSL_cleanse(p, static_cast<std::size_t>(n));
    }
  } wipeBio{pemData, pemLength};
  if (pemData == nullptr || pemLength < kMinKeyText || pemLength > INT32_MAX) return Fail();
  const auto* pem = reinterpret_cast<const unsigned char*>(pemData);

  const int K = EVP_PKEY_get_size(key.get());
  const int M = K - kOaepOverhead;
  if (K <= kOaepOverhead || K > kWriterBlockBuffer) return Fail();
  PKeyCtx enc = OaepContext(key.get(), true);
  if (!enc) return Fail();

  const std::size_t L = Base64::EncodedSize(static_cast<std::size_t>(n));
  const ByteRun T = NewByteRun(L);
  Base64::encode(swf, static_cast<std::size_t>(n), reinterpret_cast<char*>(T.get()));
  struct WipeText {
    unsigned char* p;
    std::size_t n;
    ~WipeText() { OPENSSL_cleanse(p, n); }
  } wipeText{T.get(), L};
  const std::size_t blocks = (L + M - 1) / M;
  if (blocks * static_cast<std::size_t>(K) > INT32_MAX) return Fail();

  Vello::Encryption::Blowfish bf;
  KeyBlowfish(bf, pem);

  // One block buffer, zeroed once: a Blowfish block's filler is what the
  // previous block left at those positions.
  Secret block(kWriterBlockBuffer);
  RunBytes payload;
  payload.reserve(blocks * K);
  const unsigned char* t = T.get();
  for (std::size_t i = 0; i < blocks; ++i) {
    const std::size_t chunk = std::min<std::size_t>(M, L - i * M);
    if (i % kRsaPeriod == 0) {
      std::size_t written = static_cast<std::size_t>(K);
      if (EVP_PKEY_encrypt(enc.get(), block.data(), &written, t + i * M, chunk) <= 0 ||
          written != static_cast<std::size_t>(K))
        return Fail();
    } else {
      std::memcpy(block.data(), t + i * M, chunk);
      bf.Encrypt(block.data(), static_cast<std::uint32_t>(K));
    }
    payload.insert(payload.end(), block.data(), block.data() + K);
  }

  std::vector<unsigned char> keyText(pem, pem + pemLength);
  Scramble::Apply(keyText.data(), static_cast<int>(keyText.size()), Scramble::kKeyText);
  out.payload.swap(payload);
  out.keyText.swap(keyText);
  OPENSSL_cleanse(keyText.data(), keyText.size());  // the key text out held before
  return true;
}

bool Unpack(const unsigned char* payload, int payloadLength, const unsigned char* keyText,
            int keyTextLength, unsigned char* out, int outCapacity, int& decodedLength) {
  if (payloadLength < 0 || (payload == nullptr && payloadLength > 0) || keyText == nullptr ||
      keyTextLength < kMinKeyText || (out == nullptr && outCapacity > 0) ||
      outCapacity < payloadLength)
    return false;

  Secret pem(static_cast<std::size_t>(keyTextLength));
  std::memcpy(pem.data(), keyText, pem.size());
  Scramble::Apply(pem.data(), keyTextLength, Scramble::kKeyText);

  Bio bio(BIO_new_mem_buf(pem.data(), keyTextLength));
  if (!bio) return Fail();
  PKey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassPhrase, nullptr));
  if (!key || !EVP_PKEY_is_a(key.get(), "RSA")) return Fail();
  const int K = EVP_PKEY_get_size(key.get());
  // The writer's block buffer bounds the block size (and OpenSSL's largest
  // RSA modulus fills it exactly).
  if (K <= kOaepOverhead || K > kWriterBlockBuffer) return Fail();
  const int M = K - kOaepOverhead;
  // Bytes after the last whole block are ignored, as stored files expect.
  const int blocks = payloadLength / K;

  // The RSA blocks first, so that every failure comes before out is
  // touched. They are one block in 48, so holding their text is cheap.
  PKeyCtx dec = OaepContext(key.get(), false);
  if (!dec) return Fail();
  const int rsaBlocks = (blocks + kRsaPeriod - 1) / kRsaPeriod;
  Secret rsaText(static_cast<std::size_t>(rsaBlocks) * M);
  std::vector<int> rsaLength(static_cast<std::size_t>(rsaBlocks));
  Secret block(static_cast<std::size_t>(K));
  std::size_t textLength = static_cast<std::size_t>(blocks - rsaBlocks) * M;
  for (int j = 0; j < rsaBlocks; ++j) {
    std::size_t n = static_cast<std::size_t>(K);
    if (EVP_PKEY_decrypt(dec.get(), block.data(), &n,
                         payload + static_cast<std::size_t>(j) * kRsaPeriod * K,
                         static_cast<std::size_t>(K)) <= 0 ||
        n > static_cast<std::size_t>(M))
      return Fail();
    std::memcpy(rsaText.data() + static_cast<std::size_t>(j) * M, block.data(), n);
    rsaLength[j] = static_cast<int>(n);
    textLength += n;
  }
  if (Base64::MaxDecodedSize(textLength) > static_cast<std::size_t>(outCapacity)) return Fail();

  // Then block by block, decoding as the text comes.
  Vello::Encryption::Blowfish bf;
  KeyBlowfish(bf, pem.data());
  pem.Wipe();
  Base64::Decoder decoder(out);
  for (int i = 0; i < blocks && !decoder.Stopped(); ++i) {
    if (i % kRsaPeriod == 0) {
      const int j = i / kRsaPeriod;
      decoder.Feed(rsaText.data() + static_cast<std::size_t>(j) * M,
                   static_cast<std::size_t>(rsaLength[j]));
    } else {
      std::memcpy(block.data(), payload + static_cast<std::size_t>(i) * K, block.size());
      bf.Decrypt(block.data(), static_cast<std::uint32_t>(K));
      decoder.Feed(block.data(), static_cast<std::size_t>(M));
    }
  }
  decodedLength = static_cast<int>(decoder.Finish());
  return true;
}

bool Unpack(const unsigned char* payload, int payloadLength, const unsigned char* keyText,
            int keyTextLength, RunBytes& decoded) {
  if (payloadLength < 0) return false;
  RunBytes result(static_cast<std::size_t>(payloadLength));
  int n = 0;
  const bool ok = Unpack(payload, payloadLength, keyText, keyTextLength, result.data(),
                         payloadLength, n);
  if (ok) {
    result.resize(static_cast<std::size_t>(n));
    decoded.swap(result);
  }
  OPENSSL_cleanse(result.data(), result.size());
  return ok;
}

}  // namespace ProtectedSWF
