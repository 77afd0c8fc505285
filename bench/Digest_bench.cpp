// SHA-2 throughput of the sha2 module against OpenSSL's EVP digests on the
// same 1 MiB message.

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <random>
#include <vector>

#include "bench/Paired.h"
#include "bench/Summary.h"
#include "encryption/sha2.h"
#include "encryption/sha2_detail.h"

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
  if (md == nullptr) {
    state.SkipWithError("OpenSSL digest unavailable");
    return;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  for (auto _ : state) {
    EVP_Digest(m.data(), m.size(), digest, &len, md, nullptr);
    benchmark::DoNotOptimize(digest);
  }
  EVP_MD_free(md);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * m.size()));
}

BENCHMARK(VelloDigest<SHA384_CTX, SHA384_Init, SHA384_Update, SHA384_Final>)
    ->Name("Digest/SHA384/vello");
BENCHMARK_CAPTURE(EvpDigest, openssl, "SHA384")->Name("Digest/SHA384/openssl");
BENCHMARK(VelloDigest<SHA256_CTX, SHA256_Init, SHA256_Update, SHA256_Final>)
    ->Name("Digest/SHA256/vello");
BENCHMARK_CAPTURE(EvpDigest, openssl, "SHA256")->Name("Digest/SHA256/openssl");
VELLO_SUMMARY_ROW(Rate, "SHA-256 vs OpenSSL EVP", "Digest/SHA256/vello", "Digest/SHA256/openssl",
                  NoTarget());

// SHA-512 on one of the module's compressions, forced whatever this host
// would choose, paired with OpenSSL's EVP SHA-512. OpenSSL picks its own
// path: on the AVX-512 host where this was written its SHA-512 ran as fast
// with the AVX-512 bits masked out (OPENSSL_ia32cap=:~0xD0230000) and
// slower with AVX2 masked (:~0x20), so it uses its AVX2 code here too, and
// the bmi2-avx2 row compares as on an AVX2-only host.
void PairedSha512(benchmark::State& state, const char* variant) {
  const auto& m = Message();
  EVP_MD* md = EVP_MD_fetch(nullptr, "SHA512", nullptr);
  if (md == nullptr) return state.SkipWithError("OpenSSL SHA512 unavailable");
  if (!sha2_detail::UseCompress512(variant)) {
    EVP_MD_free(md);
    return state.SkipWithError("this host cannot run that compression");
  }
  sha2_byte ours[64];
  unsigned char theirs[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  vello_bench::RunPaired(
      state, static_cast<double>(m.size()),
      [&] {
        SHA512_CTX ctx;
        SHA512_Init(&ctx);
        SHA512_Update(&ctx, m.data(), m.size());
        SHA512_Final(ours, &ctx);
        benchmark::DoNotOptimize(ours);
      },
      [&] {
        EVP_Digest(m.data(), m.size(), theirs, &len, md, nullptr);
        benchmark::DoNotOptimize(theirs);
      });
  sha2_detail::UseCompress512(nullptr);
  EVP_MD_free(md);
}
BENCHMARK_CAPTURE(PairedSha512, avx512vl, "avx512vl")->Name("Digest/SHA512-avx512vl/paired");
BENCHMARK_CAPTURE(PairedSha512, avx2, "bmi2-avx2")->Name("Digest/SHA512-bmi2-avx2/paired");
BENCHMARK_CAPTURE(PairedSha512, portable, "portable")->Name("Digest/SHA512-portable/paired");
VELLO_SUMMARY_ROW(Rate, "SHA-512 AVX-512 path vs OpenSSL", "Digest/SHA512-avx512vl/paired:ours_B/s",
                  "Digest/SHA512-avx512vl/paired:peer_B/s", AtLeast(0.8));
VELLO_SUMMARY_ROW(Rate, "SHA-512 AVX2 path vs OpenSSL", "Digest/SHA512-bmi2-avx2/paired:ours_B/s",
                  "Digest/SHA512-bmi2-avx2/paired:peer_B/s", AtLeast(0.8));

}  // namespace
