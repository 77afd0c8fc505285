// Blowfish engine throughput against OpenSSL's Blowfish (legacy provider)
// on the same 1 MiB buffer and key.

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <random>
#include <vector>

#include "bench/Paired.h"
#include "bench/Summary.h"
#include "encryption/Encryption.h"

namespace {

constexpr int kBuffer = 1 << 20;
const unsigned char kKey[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const unsigned char kIv[8] = {8, 7, 6, 5, 4, 3, 2, 1};

std::vector<unsigned char> Buffer() {
  std::vector<unsigned char> b(kBuffer);
  std::mt19937 rng(2);
  for (auto& c : b) c = static_cast<unsigned char>(rng());
  return b;
}

// Blowfish lives in the legacy provider. Loading one provider by hand stops
// OpenSSL from loading the default one by itself, so load both.
bool LoadProviders() {
  static OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  static OSSL_PROVIDER* deflt = OSSL_PROVIDER_load(nullptr, "default");
  return legacy != nullptr && deflt != nullptr;
}

void Engine(benchmark::State& state, const char* mode, bool encrypt) {
  Encryption e;
  e.Open(kKey, sizeof kKey);
  auto buf = Buffer();
  for (auto _ : state) {
    int rc = encrypt ? e.sencrypt(buf.data(), kBuffer, mode, kIv)
                     : e.sdecrypt(buf.data(), kBuffer, mode, kIv);
    benchmark::DoNotOptimize(rc);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBuffer);
}

void OpenSsl(benchmark::State& state, const char* cipher_name, bool encrypt) {
  EVP_CIPHER* cipher = LoadProviders() ? EVP_CIPHER_fetch(nullptr, cipher_name, nullptr) : nullptr;
  if (cipher == nullptr) {
    state.SkipWithError("OpenSSL Blowfish unavailable (legacy provider)");
    return;
  }
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  auto buf = Buffer();
  std::vector<unsigned char> out(kBuffer + 8);
  EVP_CipherInit_ex(ctx, cipher, nullptr, kKey, kIv, encrypt);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  for (auto _ : state) {
    // A fresh IV per call, as the engine takes one per call; no re-keying.
    EVP_CipherInit_ex(ctx, nullptr, nullptr, nullptr, kIv, encrypt);
    int n = 0;
    EVP_CipherUpdate(ctx, out.data(), &n, buf.data(), kBuffer);
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(cipher);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBuffer);
}

BENCHMARK_CAPTURE(Engine, cbc_encrypt, "cbc", true)->Name("Cipher/CBC-encrypt/vello");
BENCHMARK_CAPTURE(OpenSsl, cbc_encrypt, "BF-CBC", true)->Name("Cipher/CBC-encrypt/openssl");
BENCHMARK_CAPTURE(Engine, cbc_decrypt, "cbc", false)->Name("Cipher/CBC-decrypt/vello");
BENCHMARK_CAPTURE(OpenSsl, cbc_decrypt, "BF-CBC", false)->Name("Cipher/CBC-decrypt/openssl");
BENCHMARK_CAPTURE(Engine, ecb_encrypt, "ecb", true)->Name("Cipher/ECB-encrypt/vello");
BENCHMARK_CAPTURE(OpenSsl, ecb_encrypt, "BF-ECB", true)->Name("Cipher/ECB-encrypt/openssl");

VELLO_SUMMARY_ROW(Rate, "Engine CBC decrypt vs OpenSSL BF-CBC", "Cipher/CBC-decrypt/vello",
                  "Cipher/CBC-decrypt/openssl", NoTarget());

// CBC encryption by both in turn (Paired.h).
void PairedCbcEncrypt(benchmark::State& state) {
  EVP_CIPHER* cipher = LoadProviders() ? EVP_CIPHER_fetch(nullptr, "BF-CBC", nullptr) : nullptr;
  if (cipher == nullptr) {
    state.SkipWithError("OpenSSL Blowfish unavailable (legacy provider)");
    return;
  }
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(ctx, cipher, nullptr, kKey, kIv, 1);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  Encryption e;
  e.Open(kKey, sizeof kKey);
  auto ours = Buffer();
  auto input = Buffer();
  std::vector<unsigned char> theirs(kBuffer + 8);
  vello_bench::RunPaired(
      state, kBuffer, [&] { e.sencrypt(ours.data(), kBuffer, "cbc", kIv); },
      [&] {
        EVP_CipherInit_ex(ctx, nullptr, nullptr, nullptr, kIv, 1);
        int n = 0;
        EVP_CipherUpdate(ctx, theirs.data(), &n, input.data(), kBuffer);
      });
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(cipher);
}
BENCHMARK(PairedCbcEncrypt)->Name("Cipher/CBC-encrypt/paired");
VELLO_SUMMARY_ROW(Rate, "Engine CBC encrypt vs OpenSSL BF-CBC", "Cipher/CBC-encrypt/paired:ours_B/s",
                  "Cipher/CBC-encrypt/paired:peer_B/s", AtLeast(1.0));

}  // namespace
