// Blowfish ECB throughput: ours against OpenSSL's BF-ECB (legacy provider)
// over the same buffer.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <vector>

#include "bench/Summary.h"
#include "encryption/Blowfish.h"
#include "encryption/OpenSslBlowfish_test.h"

namespace {

constexpr std::size_t kBytes = 1 << 20;
const char kKey[] = "0123456789abcdefghijklmnopqrstuv";  // 32 bytes, as the codec uses

void BM_BlowfishEncrypt(benchmark::State& state) {
  Vello::Encryption::Blowfish bf;
  bf.SetPassword(kKey);
  std::vector<unsigned char> data(kBytes, 0x5C);
  for (auto _ : state) {
    bf.Encrypt(data.data(), static_cast<std::uint32_t>(data.size()));
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBytes);
}
BENCHMARK(BM_BlowfishEncrypt);

void BM_BlowfishDecrypt(benchmark::State& state) {
  Vello::Encryption::Blowfish bf;
  bf.SetPassword(kKey);
  std::vector<unsigned char> data(kBytes, 0x5C);
  for (auto _ : state) {
    bf.Decrypt(data.data(), static_cast<std::uint32_t>(data.size()));
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBytes);
}
BENCHMARK(BM_BlowfishDecrypt);

void BM_OpenSslBfEcbEncrypt(benchmark::State& state) {
  if (!vello_test::LoadLegacyProvider()) return state.SkipWithError("no legacy provider");
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "BF-ECB", nullptr);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex2(ctx, cipher, nullptr, nullptr, nullptr);
  EVP_CIPHER_CTX_set_key_length(ctx, 32);
  EVP_EncryptInit_ex2(ctx, nullptr, reinterpret_cast<const unsigned char*>(kKey), nullptr, nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  std::vector<unsigned char> data(kBytes, 0x5C);
  int n = 0;
  for (auto _ : state) {
    EVP_EncryptUpdate(ctx, data.data(), &n, data.data(), static_cast<int>(data.size()));
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBytes);
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(cipher);
}
BENCHMARK(BM_OpenSslBfEcbEncrypt);
VELLO_SUMMARY_ROW(Rate, "Blowfish Encrypt vs OpenSSL BF-ECB", "BM_BlowfishEncrypt",
                  "BM_OpenSslBfEcbEncrypt", AtLeast(1.0));

}  // namespace
