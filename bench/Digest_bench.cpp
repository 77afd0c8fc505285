// SHA-2 throughput of the sha2 module against OpenSSL's EVP digests on the
// same 1 MiB message.

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <chrono>
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

BENCHMARK(VelloDigest<SHA512_CTX, SHA512_Init, SHA512_Update, SHA512_Final>)
    ->Name("Digest/SHA512/vello");
BENCHMARK_CAPTURE(EvpDigest, openssl, "SHA512")->Name("Digest/SHA512/openssl");
BENCHMARK(VelloDigest<SHA384_CTX, SHA384_Init, SHA384_Update, SHA384_Final>)
    ->Name("Digest/SHA384/vello");
BENCHMARK_CAPTURE(EvpDigest, openssl, "SHA384")->Name("Digest/SHA384/openssl");
BENCHMARK(VelloDigest<SHA256_CTX, SHA256_Init, SHA256_Update, SHA256_Final>)
    ->Name("Digest/SHA256/vello");
BENCHMARK_CAPTURE(EvpDigest, openssl, "SHA256")->Name("Digest/SHA256/openssl");

// Both digests in turn within each iteration, so a load that comes and goes
// on a shared machine weighs on both sides alike; reports each side's rate
// and their ratio (ours / OpenSSL's).
void PairedSha512(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const auto& m = Message();
  EVP_MD* md = EVP_MD_fetch(nullptr, "SHA512", nullptr);
  if (md == nullptr) {
    state.SkipWithError("OpenSSL SHA512 unavailable");
    return;
  }
  sha2_byte ours[64];
  unsigned char theirs[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  double ours_s = 0, theirs_s = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    SHA512_CTX ctx;
    SHA512_Init(&ctx);
    SHA512_Update(&ctx, m.data(), m.size());
    SHA512_Final(ours, &ctx);
    auto t1 = Clock::now();
    EVP_Digest(m.data(), m.size(), theirs, &len, md, nullptr);
    auto t2 = Clock::now();
    benchmark::DoNotOptimize(ours);
    benchmark::DoNotOptimize(theirs);
    ours_s += std::chrono::duration<double>(t1 - t0).count();
    theirs_s += std::chrono::duration<double>(t2 - t1).count();
  }
  EVP_MD_free(md);
  const double bytes = static_cast<double>(state.iterations()) * m.size();
  state.counters["vello_B/s"] = bytes / ours_s;
  state.counters["openssl_B/s"] = bytes / theirs_s;
  state.counters["ratio"] = theirs_s / ours_s;
}
BENCHMARK(PairedSha512)->Name("Digest/SHA512/paired");

}  // namespace
