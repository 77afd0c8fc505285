#pragma once

// Test peer: OpenSSL's own Blowfish (BF-ECB from the legacy provider), in
// the usual big-endian block layout.

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <string>
#include <vector>

namespace vello_test {

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

// Standard Blowfish ECB of data (a multiple of 8 bytes) under the raw key
// bytes. Empty on failure.
inline std::vector<unsigned char> OpenSslBfEcb(const std::string& key,
                                               std::vector<unsigned char> data,
                                               bool encrypt = true) {
  if (!LoadLegacyProvider()) return {};
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "BF-ECB", nullptr);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  std::vector<unsigned char> out(data.size() + 8);
  int n = 0, m = 0;
  const bool ok =
      cipher != nullptr && ctx != nullptr &&
      EVP_CipherInit_ex2(ctx, cipher, nullptr, nullptr, encrypt ? 1 : 0, nullptr) == 1 &&
      EVP_CIPHER_CTX_set_key_length(ctx, static_cast<int>(key.size())) == 1 &&
      EVP_CipherInit_ex2(ctx, nullptr, reinterpret_cast<const unsigned char*>(key.data()),
                         nullptr, encrypt ? 1 : 0, nullptr) == 1 &&
      EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
      EVP_CipherUpdate(ctx, out.data(), &n, data.data(), static_cast<int>(data.size())) == 1 &&
      EVP_CipherFinal_ex(ctx, out.data() + n, &m) == 1;
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(cipher);
  if (!ok) return {};
  out.resize(static_cast<std::size_t>(n + m));
  return out;
}

// Reverses the bytes of each 4-byte half of every 8-byte block: turns the
// little-endian block layout into the usual one and back.
inline std::vector<unsigned char> SwapHalves(std::vector<unsigned char> data) {
  for (std::size_t i = 0; i + 4 <= data.size(); i += 4) {
    std::swap(data[i], data[i + 3]);
    std::swap(data[i + 1], data[i + 2]);
  }
  return data;
}

}  // namespace vello_test
