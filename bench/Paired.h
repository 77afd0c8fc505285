#pragma once

// Ours and a peer measured in turn within each iteration, so a load that
// comes and goes on a shared machine weighs on both alike. Each side is
// timed by this thread's CPU time, so time spent descheduled counts for
// neither, and the side that runs first alternates, so neither always
// finds the other's data in the cache. Sets the counters ours_B/s and
// peer_B/s, which summary rows read, and ratio (ours / peer).

#include <benchmark/benchmark.h>
#include <time.h>

namespace vello_bench {

inline double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

template <typename Ours, typename Peer>
void RunPaired(benchmark::State& state, double bytes_per_run, Ours&& ours, Peer&& peer) {
  double ours_s = 0, peer_s = 0;
  bool ours_first = true;
  for (auto _ : state) {
    const double t0 = ThreadSeconds();
    ours_first ? ours() : peer();
    const double t1 = ThreadSeconds();
    ours_first ? peer() : ours();
    const double t2 = ThreadSeconds();
    benchmark::ClobberMemory();
    ours_s += ours_first ? t1 - t0 : t2 - t1;
    peer_s += ours_first ? t2 - t1 : t1 - t0;
    ours_first = !ours_first;
  }
  const double bytes = bytes_per_run * static_cast<double>(state.iterations());
  state.counters["ours_B/s"] = bytes / ours_s;
  state.counters["peer_B/s"] = bytes / peer_s;
  state.counters["ratio"] = peer_s / ours_s;
}

}  // namespace vello_bench
