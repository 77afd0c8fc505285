#pragma once

// Test peers: OpenSSL's Blowfish (legacy provider, usual big-endian block
// layout) and Base64; the published Blowfish vectors.

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vello_test {

using Bytes = std::vector<unsigned char>;

// Bytes of a hexadecimal text (published vectors).
inline Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// The two halves of a block of 16 hexadecimal digits, as numbers.
inline std::pair<uint32_t, uint32_t> HexWords(const char* hex) {
  auto word = [hex](int at) { return uint32_t(std::stoul(std::string(hex + at, 8), nullptr, 16)); };
  return {word(0), word(8)};
}

// Loads the legacy provider (Blowfish lives there) beside the default one,
// once per process. False when it is not installed.
inline bool LoadLegacyProvider() {
  struct Providers {
    OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER* fallback = OSSL_PROVIDER_load(nullptr, "default");
    ~Providers() {  // unloaded at exit, so leak checks stay quiet
      if (legacy) OSSL_PROVIDER_unload(legacy);
      if (fallback) OSSL_PROVIDER_unload(fallback);
    }
  };
  static const Providers providers;
  return providers.legacy != nullptr && providers.fallback != nullptr;
}

#define REQUIRE_OPENSSL_BLOWFISH()       \
  if (!vello_test::LoadLegacyProvider()) \
  GTEST_SKIP() << "OpenSSL's legacy provider (Blowfish) cannot be loaded here"

// Cipher `name` ("BF-ECB", "BF-CBC", "BF-CFB", "BF-OFB") over data (a
// multiple of 8 bytes) under the raw key bytes, with an 8-byte iv or none
// (empty). Empty on failure.
inline Bytes OpenSslBf(const char* name, bool encrypt, const Bytes& key, const Bytes& iv,
                       const Bytes& data) {
  if (!LoadLegacyProvider()) return {};
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(data.size() + 8);
  int n = 0, m = 0;
  const bool ok =
      cipher != nullptr && ctx != nullptr &&
      EVP_CipherInit_ex2(ctx, cipher, nullptr, nullptr, encrypt ? 1 : 0, nullptr) == 1 &&
      EVP_CIPHER_CTX_set_key_length(ctx, static_cast<int>(key.size())) == 1 &&
      EVP_CipherInit_ex2(ctx, nullptr, key.data(), iv.empty() ? nullptr : iv.data(),
                         encrypt ? 1 : 0, nullptr) == 1 &&
      EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
      EVP_CipherUpdate(ctx, out.data(), &n, data.data(), static_cast<int>(data.size())) == 1 &&
      EVP_CipherFinal_ex(ctx, out.data() + n, &m) == 1;
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(cipher);
  if (!ok) return {};
  out.resize(static_cast<std::size_t>(n + m));
  return out;
}

// Base64 of the bytes as OpenSSL writes it.
inline std::string OpenSslBase64(const Bytes& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  out.resize(static_cast<std::size_t>(EVP_EncodeBlock(
      reinterpret_cast<unsigned char*>(out.data()), bytes.data(), static_cast<int>(bytes.size()))));
  return out;
}

struct EcbVector {
  const char* key;
  const char* plain;
  const char* cipher;
};

// Published Blowfish ECB results (Eric Young's set and Schneier's), in the
// usual big-endian layout.
inline const EcbVector kEcbVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    // "abcdefghijklmnopqrstuvwxyz" enciphering "BLOWFISH".
    {"6162636465666768696A6B6C6D6E6F707172737475767778797A", "424C4F5746495348",
     "324ED0FEF413A203"},
    // "Who is John Galt?"
    {"57686F206973204A6F686E2047616C743F", "FEDCBA9876543210", "CC91732B8022F684"},
};

// Reverses the bytes of each 4-byte half of every 8-byte block: turns the
// little-endian block layout into the usual one and back.
inline Bytes SwapHalves(Bytes data) {
  for (std::size_t i = 0; i + 4 <= data.size(); i += 4) {
    std::swap(data[i], data[i + 3]);
    std::swap(data[i + 1], data[i + 2]);
  }
  return data;
}

}  // namespace vello_test
