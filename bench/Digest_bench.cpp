// SHA-2 throughput of the sha2 module against OpenSSL's EVP digests on the
// same 1 MiB message.

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <random>
#include <vector>

#include "encryption/sha2.h"

namespace {

constexpr std::size_t kMessage = 1 << 20;

const std::vector<sha2_byte>& Message() {
  static const std::vector<sha2_byte> message = [] {
    std::vector<sha2_byte> m(kMessage);
    std::mt19937 rng(1);
    for (auto& b : m) b = static_cast<sha2_byte>(rng());
    return m;
  }();
  return message;
}

template <typename Ctx, void (*Init)(Ctx*), void (*Update)(Ctx*, const sha2_byte*, std::size_t),
          void (*Final)(sha2_byte*, Ctx*)>
void VelloDigest(benchmark::State& state) {
  const auto& m = Message();
  sha2_byte digest[64];
  for (auto _ : state) {
    Ctx ctx;
    Init(&ctx);
    Update(&ctx, m.data(), m.size());
    Final(digest, &ctx);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * m.size()));
}

void EvpDigest(benchmark::State& state, const char* name) {
  const auto& m = Message();
  EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  for (auto _ : state) {
    EVP_Digest(m.data(), m.size(), digest, &len, md, nullptr);
    benchmark::DoNotOptimize(digest);
  }
  EVP_MD_free(md);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * m.size()));
}

BENCHMARK(VelloDigest<SHA512_CTX, SHA512_Init, SHA512_Update, SHA512_Final>)
    ->Name("Digest/SHA512/vello");
BENCHMARK_CAPTURE(EvpDigest, openssl, "SHA512")->Name("Digest/SHA512/openssl");
BENCHMARK(VelloDigest<SHA384_CTX, SHA384_Init, SHA384_Update, SHA384_Final>)
    ->Name("Digest/SHA384/vello");
BENCHMARK_CAPTURE(EvpDigest, openssl, "SHA384")->Name("Digest/SHA384/openssl");
BENCHMARK(VelloDigest<SHA256_CTX, SHA256_Init, SHA256_Update, SHA256_Final>)
    ->Name("Digest/SHA256/vello");
BENCHMARK_CAPTURE(EvpDigest, openssl, "SHA256")->Name("Digest/SHA256/openssl");

}  // namespace
