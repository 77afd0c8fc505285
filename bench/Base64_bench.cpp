// Base64 throughput, counted in text bytes for decoding and in input bytes
// for encoding, over 16 MiB of program bytes.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "bench/Summary.h"
#include "encryption/Base64.h"

namespace {

std::string RandomBytes(std::size_t n) {
  std::mt19937 rng(42);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

void BM_Base64Decode(benchmark::State& state) {
  const std::string text = Base64::encode(RandomBytes(16 << 20));
  for (auto _ : state) {
    std::string bytes = Base64::decode(text);
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_Base64Decode)->Unit(benchmark::kMillisecond);
VELLO_SUMMARY_ROW(Rate, "Base64::decode", "BM_Base64Decode", nullptr, AtLeast(1e9));

void BM_Base64Encode(benchmark::State& state) {
  const std::string bytes = RandomBytes(16 << 20);
  for (auto _ : state) {
    std::string text = Base64::encode(bytes);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_Base64Encode)->Unit(benchmark::kMillisecond);

}  // namespace
