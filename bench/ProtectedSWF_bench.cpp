// Unpacking a 16 MiB protected program, against a baseline made of the
// same primitives called directly through OpenSSL: the same number of
// RSA-1024 OAEP decryptions and OpenSSL's Blowfish ECB (legacy provider)
// over the payload bytes. Also the peak of live heap bytes during the
// unpack, from counting hooks on operator new/delete and on OpenSSL's
// allocator, relative to the program size.
#include <benchmark/benchmark.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <vector>

#include "bench/Summary.h"
#include "builder_package/ProtectedSWF.h"
#include "encryption/OpenSslBlowfish_test.h"

namespace {

std::atomic<long long> gLive{0}, gPeak{0};
constexpr std::size_t kHeader = 16;  // keeps the size and the alignment

void Count(long long delta) {
  const long long now = gLive.fetch_add(delta) + delta;
  long long peak = gPeak.load();
  while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
  }
}

__attribute__((noinline)) void* CountedAlloc(std::size_t n) {
  auto* block = static_cast<unsigned char*>(std::malloc(n + kHeader));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &n, sizeof n);
  Count(static_cast<long long>(n));
  return block + kHeader;
}

__attribute__((noinline)) void CountedFree(void* p) {
  if (p == nullptr) return;
  auto* block = static_cast<unsigned char*>(p) - kHeader;
  std::size_t n;
  std::memcpy(&n, block, sizeof n);
  Count(-static_cast<long long>(n));
  std::free(block);
}

void* CountedRealloc(void* p, std::size_t n) {
  if (p == nullptr) return CountedAlloc(n);
  auto* block = static_cast<unsigned char*>(p) - kHeader;
  std::size_t old;
  std::memcpy(&old, block, sizeof old);
  auto* grown = static_cast<unsigned char*>(std::realloc(block, n + kHeader));
  if (grown == nullptr) return nullptr;
  std::memcpy(grown, &n, sizeof n);
  Count(static_cast<long long>(n) - static_cast<long long>(old));
  return grown + kHeader;
}

// Before OpenSSL allocates anything; refused (and then not counted) if it
// already has.
const bool gOpenSslCounted = CRYPTO_set_mem_functions(
    [](std::size_t n, const char*, int) { return CountedAlloc(n); },
    [](void* p, std::size_t n, const char*, int) { return CountedRealloc(p, n); },
    [](void* p, const char*, int) { CountedFree(p); }) == 1;

}  // namespace

void* operator new(std::size_t n) {
  if (void* p = CountedAlloc(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return CountedAlloc(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return CountedAlloc(n); }
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete[](void* p) noexcept { CountedFree(p); }
void operator delete(void* p, std::size_t) noexcept { CountedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { CountedFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { CountedFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { CountedFree(p); }

namespace {

constexpr int kProgram = 16 << 20;
constexpr int K = 128;

struct Fixture {
  std::vector<unsigned char> swf;
  ProtectedSWF::Packed packed;
  std::string pem;
  Fixture() : swf(kProgram) {
    std::mt19937 rng(16);
    for (auto& b : swf) b = static_cast<unsigned char>(rng());
    if (!ProtectedSWF::Pack(swf.data(), kProgram, "bench", packed)) std::abort();
    pem.assign(packed.keyText.begin(), packed.keyText.end());
    const unsigned n = static_cast<unsigned>(pem.size());
    for (unsigned i = 0; i < n; ++i) pem[i] = static_cast<char>(pem[i] ^ ((n + 33 * i + 63) % 256));
  }
};

const Fixture& GetFixture() {
  static const Fixture fixture;
  return fixture;
}

// What UnpackSWFToRam does for a protected form: a zeroed array of the
// payload length, decoded into.
long long OursOnce(const Fixture& f, long long& peak) {
  const int length = static_cast<int>(f.packed.payload.size());
  const long long before = gLive.load();
  gPeak.store(before);
  auto* out = new unsigned char[static_cast<std::size_t>(length)]();
  int decoded = 0;
  if (!ProtectedSWF::Unpack(f.packed.payload.data(), length, f.packed.keyText.data(),
                            static_cast<int>(f.packed.keyText.size()), out, length, decoded) ||
      decoded != kProgram || std::memcmp(out, f.swf.data(), kProgram) != 0)
    std::abort();
  peak = gPeak.load() - before;
  delete[] out;
  return decoded;
}

// The same primitives straight through OpenSSL.
void BaselineOnce(const Fixture& f) {
  const std::size_t length = f.packed.payload.size();
  const std::size_t blocks = length / K;
  BIO* bio = BIO_new_mem_buf(f.pem.data(), static_cast<int>(f.pem.size()));
  EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
  EVP_PKEY_CTX* rsa = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
  EVP_PKEY_decrypt_init(rsa);
  EVP_PKEY_CTX_set_rsa_padding(rsa, RSA_PKCS1_OAEP_PADDING);
  auto* out = new unsigned char[length]();
  unsigned char plain[K];
  for (std::size_t i = 0; i < blocks; i += 48) {
    std::size_t n = K;
    if (EVP_PKEY_decrypt(rsa, plain, &n, f.packed.payload.data() + i * K, K) <= 0) std::abort();
  }
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "BF-ECB", nullptr);
  EVP_CIPHER_CTX* bf = EVP_CIPHER_CTX_new();
  EVP_DecryptInit_ex2(bf, cipher, nullptr, nullptr, nullptr);
  EVP_CIPHER_CTX_set_key_length(bf, 32);
  EVP_DecryptInit_ex2(bf, nullptr, reinterpret_cast<const unsigned char*>(f.pem.data() + 48), nullptr,
                      nullptr);
  EVP_CIPHER_CTX_set_padding(bf, 0);
  int n = 0;
  EVP_DecryptUpdate(bf, out, &n, f.packed.payload.data(), static_cast<int>(length));
  benchmark::DoNotOptimize(out);
  delete[] out;
  EVP_CIPHER_CTX_free(bf);
  EVP_CIPHER_free(cipher);
  EVP_PKEY_CTX_free(rsa);
  EVP_PKEY_free(key);
  BIO_free(bio);
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

void BM_ProtectedUnpack16MiB(benchmark::State& state) {
  if (!vello_test::LoadLegacyProvider()) return state.SkipWithError("no legacy provider");
  const Fixture& f = GetFixture();
  double ours = 0, baseline = 0;
  long long peak = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    long long p = 0;
    OursOnce(f, p);
    auto t1 = std::chrono::steady_clock::now();
    BaselineOnce(f);
    auto t2 = std::chrono::steady_clock::now();
    ours += Seconds(t0, t1);
    baseline += Seconds(t1, t2);
    peak = std::max(peak, p);
    state.SetIterationTime(Seconds(t0, t1));
  }
  state.counters["baseline_ms"] = 1000 * baseline / static_cast<double>(state.iterations());
  state.counters["ratio_vs_openssl"] = ours / baseline;
  state.counters["peak_over_program"] = static_cast<double>(peak) / kProgram;
  state.counters["payload_over_program"] = static_cast<double>(f.packed.payload.size()) / kProgram;
  state.counters["openssl_allocs_counted"] = gOpenSslCounted ? 1 : 0;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kProgram);
}
BENCHMARK(BM_ProtectedUnpack16MiB)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3);
VELLO_SUMMARY_ROW(Time, "Protected unpack 16 MiB vs OpenSSL primitives", "BM_ProtectedUnpack16MiB",
                  "BM_ProtectedUnpack16MiB:baseline_ms", AtMost(1.15));
VELLO_SUMMARY_ROW(Value, "Peak heap of that unpack / program size",
                  "BM_ProtectedUnpack16MiB:peak_over_program", nullptr, AtMost(2.5));

}  // namespace
