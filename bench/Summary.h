#pragma once

// The table printed at the end of `make bench`: one row per figure, with
// ours, the peer's, their ratio, the target and whether it is met.
//
// A row is declared in the benchmark file, beside the benchmarks it reads:
//
//   VELLO_SUMMARY_ROW(Rate, "SHA-512 vs OpenSSL EVP", "Digest/SHA512/paired:ours_B/s",
//                     "Digest/SHA512/paired:peer_B/s", AtLeast(0.8));
//
// - Kind: Rate (bytes per second, higher is better), Time (seconds per run,
//   lower is better) or Value (a plain number, e.g. a memory ratio).
// - A figure is "benchmark name" or "benchmark name:counter", the name as
//   given in the file (Name(...), arguments included, without the
//   /min_time:, /manual_time, ... that Google Benchmark adds). A bare name
//   means its bytes_per_second for Rate and its real time per iteration
//   for Time. Time counters carry their unit in their name ("_s" or "_ms").
// - Peer nullptr: the target applies to our figure itself (AtLeast(1e9)
//   for Rate is 1 GB/s); otherwise it applies to the ratio ours / peer.
// - NoTarget(): reported only.
// A paired benchmark (Paired.h) gives the counters ours_B/s and peer_B/s.
// Where repetitions ran, the medians are used. Rows whose benchmarks did
// not run (filtered out, skipped, failed, not built) are listed by name.

#include <string>

namespace vello_bench {

enum class Kind { Rate, Time, Value };

struct Target {
  enum class Op { None, AtLeast, AtMost } op;
  double value;
};
constexpr Target AtLeast(double v) { return {Target::Op::AtLeast, v}; }
constexpr Target AtMost(double v) { return {Target::Op::AtMost, v}; }
constexpr Target NoTarget() { return {Target::Op::None, 0}; }

struct SummaryRow {
  Kind kind;
  std::string figure;
  std::string ours;
  const char* peer;  // may be nullptr
  Target target;
};

// Registers a row. Rows print in the order their benchmarks ran.
bool AddSummaryRow(SummaryRow row);

// The benchmark program's main: Google Benchmark's console output (with
// its own flags), then the table.
int RunWithSummary(int argc, char** argv);

}  // namespace vello_bench

#define VELLO_SUMMARY_CAT2(a, b) a##b
#define VELLO_SUMMARY_CAT(a, b) VELLO_SUMMARY_CAT2(a, b)
#define VELLO_SUMMARY_ROW(kind, figure, ours, peer, target)                  \
  static const bool VELLO_SUMMARY_CAT(vello_summary_row_, __LINE__) =       \
      ::vello_bench::AddSummaryRow({::vello_bench::Kind::kind, figure, ours, \
                                    peer, ::vello_bench::target})
