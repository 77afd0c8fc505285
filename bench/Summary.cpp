#include "bench/Summary.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <vector>

namespace vello_bench {
namespace {

std::vector<SummaryRow>& Rows() {
  static std::vector<SummaryRow> rows;
  return rows;
}

// What one benchmark reported: its median where repetitions ran.
struct Result {
  double real_seconds = 0;
  std::map<std::string, double> counters;
  bool median = false;
  int order = 0;  // when it first reported
};

bool EndsWith(const std::string& s, const char* tail) {
  const std::string t(tail);
  return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

// Display width of UTF-8 text: its code points.
std::size_t Width(const std::string& s) {
  return static_cast<std::size_t>(
      std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string Format(const char* format, double v) {
  char text[64];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

std::string Show(Kind kind, double v) {
  switch (kind) {
    case Kind::Rate:
      return v >= 1e9 ? Format("%.2f GB/s", v / 1e9) : Format("%.0f MB/s", v / 1e6);
    case Kind::Time:
      return v >= 1 ? Format("%.2f s", v) : Format("%.1f ms", v * 1e3);
    case Kind::Value:
      break;
  }
  return Format("%.3g", v);
}

class Summary {
 public:
  void Collect(const std::vector<benchmark::BenchmarkReporter::Run>& runs) {
    for (const auto& run : runs) {
      if (run.error_occurred) continue;
      const bool aggregate = run.run_type == benchmark::BenchmarkReporter::Run::RT_Aggregate;
      if (aggregate && run.aggregate_name != "median") continue;
      // Named as in the benchmark file: no /min_time, /manual_time, ...
      benchmark::BenchmarkName name = run.run_name;
      name.min_time = name.min_warmup_time = name.iterations = name.repetitions = "";
      name.time_type = name.threads = "";
      auto [it, fresh] = results_.try_emplace(name.str());
      Result& r = it->second;
      if (fresh) r.order = next_order_++;
      if (r.median && !aggregate) continue;
      r.median = aggregate;
      r.real_seconds =
          run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      r.counters.clear();
      for (const auto& [name, counter] : run.counters) r.counters[name] = counter.value;
    }
  }

  void Print(std::ostream& out) const {
    struct Line {
      int order;
      std::string cells[6];
    };
    std::vector<Line> lines;
    std::vector<std::string> missing;
    for (const SummaryRow& row : Rows()) {
      double ours = 0, peer = 0;
      if (!Find(row.kind, row.ours, ours) || (row.peer && !Find(row.kind, row.peer, peer))) {
        missing.push_back(row.figure);
        continue;
      }
      Line line{results_.at(Name(row.ours)).order, {row.figure, Show(row.kind, ours)}};
      std::string& ratio_cell = line.cells[3];
      double judged = ours;
      line.cells[2] = "—";
      ratio_cell = "—";
      if (row.peer) {
        line.cells[2] = Show(row.kind, peer);
        judged = ours / peer;
        ratio_cell = Format("%.2f×", judged);
      }
      const Target& t = row.target;
      if (t.op == Target::Op::None) {
        line.cells[4] = "reported only";
        line.cells[5] = "—";
      } else {
        const std::string shown = row.peer ? Format("%.2f×", t.value) : Show(row.kind, t.value);
        line.cells[4] = (t.op == Target::Op::AtLeast ? "≥ " : "≤ ") + shown;
        const bool met = t.op == Target::Op::AtLeast ? judged >= t.value : judged <= t.value;
        line.cells[5] = met ? "yes" : "NO";
      }
      lines.push_back(std::move(line));
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const Line& a, const Line& b) { return a.order < b.order; });

    const Line header{0, {"figure", "ours", "peer", "ratio", "target", "met"}};
    std::size_t width[6] = {};
    for (int c = 0; c < 6; ++c) {
      width[c] = Width(header.cells[c]);
      for (const Line& l : lines) width[c] = std::max(width[c], Width(l.cells[c]));
    }
    auto print = [&](const Line& l) {
      for (int c = 0; c < 6; ++c) {
        // The figure reads left-aligned, the numbers right-aligned.
        const std::string pad(width[c] - Width(l.cells[c]), ' ');
        out << (c == 0 ? l.cells[c] + pad : pad + l.cells[c]) << (c < 5 ? "  " : "\n");
      }
    };
    out << "\nSummary (medians where repetitions ran; ratio = ours / peer; 1 MB = 10^6 bytes)\n";
    print(header);
    for (const Line& l : lines) print(l);
    if (!missing.empty()) {
      out << "Not run:";
      for (std::size_t i = 0; i < missing.size(); ++i) out << (i ? ", " : " ") << missing[i];
      out << "\n";
    }
    out.flush();
  }

 private:
  static std::string Name(const std::string& figure) {
    const auto colon = figure.rfind(':');
    return colon == std::string::npos ? figure : figure.substr(0, colon);
  }

  // The value of "benchmark" or "benchmark:counter", if it reported one.
  bool Find(Kind kind, const std::string& figure, double& value) const {
    const auto it = results_.find(Name(figure));
    if (it == results_.end()) return false;
    const Result& r = it->second;
    const auto colon = figure.rfind(':');
    if (colon == std::string::npos) {
      if (kind == Kind::Time) {
        value = r.real_seconds;
        return true;
      }
      const auto c = r.counters.find("bytes_per_second");
      if (kind == Kind::Value || c == r.counters.end()) return false;
      value = c->second;
      return true;
    }
    const std::string counter = figure.substr(colon + 1);
    const auto c = r.counters.find(counter);
    if (c == r.counters.end()) return false;
    value = c->second * (kind == Kind::Time && EndsWith(counter, "_ms") ? 1e-3 : 1);
    return true;
  }

  std::map<std::string, Result> results_;
  int next_order_ = 0;
};

// The console output as usual, then the summary table.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  using ConsoleReporter::ConsoleReporter;

  // Debian's libbenchmark is built without NDEBUG and says so before
  // every run; the code it measures is ours, built in Release.
  bool ReportContext(const Context& context) override {
    std::ostream& err = GetErrorStream();
    std::ostringstream captured;
    SetErrorStream(&captured);
    const bool ok = ConsoleReporter::ReportContext(context);
    SetErrorStream(&err);
    std::istringstream lines(captured.str());
    for (std::string line; std::getline(lines, line);) {
      if (line.find("Library was built as DEBUG") != std::string::npos)
        line =
            "(Google Benchmark as packaged by Debian is a debug build; the code measured "
            "here is built in Release.)";
      err << line << "\n";
    }
    return ok;
  }

  void ReportRuns(const std::vector<Run>& runs) override {
    summary_.Collect(runs);
    ConsoleReporter::ReportRuns(runs);
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    summary_.Print(GetOutputStream());
  }

 private:
  Summary summary_;
};

}  // namespace

bool AddSummaryRow(SummaryRow row) {
  Rows().push_back(std::move(row));
  return true;
}

int RunWithSummary(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SummaryReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                 : benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace vello_bench
