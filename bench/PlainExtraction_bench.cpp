// Extracting a 64 MiB plain main program: load the package and write the
// program to a file with UnpackSWF, as the saver does at start-up, against
// cp of a 64 MiB file, the two interleaved in one run so that both see the
// same machine. Both read from the page cache and write a new file.
// Besides wall time, CPU time (user + system) of each side: on a busy
// machine the wall-time ratio mostly measures waiting for a core.
//
// Peak memory: the rise of this process's peak resident set over what it
// held before (the peak is reset through /proc/self/clear_refs). cp's is
// not shown: a spawned child's peak, as wait4 reports it, includes the
// parent's at the time of the spawn.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "builder_package/Package.h"
#include "builder_package/PackageForm.h"
#include "bench/Summary.h"

extern char** environ;

namespace {

constexpr int kProgram = 64 << 20;

struct Files {
  std::filesystem::path dir;
  std::string swf, package;
  Files() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vello-bench.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    dir = pattern;
    swf = (dir / "main.swf").string();
    package = (dir / "vello.dat").string();
    std::vector<char> bytes(kProgram);
    std::mt19937_64 rng(64);
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
      const unsigned long long word = rng();
      for (int b = 0; b < 8; ++b) bytes[i + b] = static_cast<char>(word >> (8 * b));
    }
    std::ofstream(swf, std::ios::binary).write(bytes.data(), kProgram);
    CPackage built;
    auto* form = new CPackageForm;
    built.AddForm(form);
    if (!form->PackSWF(Wide(swf), false, "") || !built.Save(0, Wide(package))) std::abort();
  }
  ~Files() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  static std::wstring Wide(const std::string& s) { return std::filesystem::path(s).wstring(); }
};

const Files& GetFiles() {
  static const Files files;
  return files;
}

long long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(status, line))
    if (line.compare(0, prefix.size(), prefix) == 0) return std::atoll(line.c_str() + prefix.size());
  return -1;
}

// Resets the peak resident set to the current one; false where the
// kernel does not offer it.
bool ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

// Load, take the first form, write its program; the rise of the peak
// resident set in KiB.
long long OursOnce(const Files& f, const std::string& out) {
  const bool peakKnown = ResetPeak();
  const long long before = StatusKiB("VmRSS");
  {
    CPackage package;
    if (!package.Load(0, Files::Wide(f.package)) || package.GetForm(0) == nullptr ||
        !package.GetForm(0)->UnpackSWF(Files::Wide(out)))
      std::abort();
  }
  return peakKnown ? StatusKiB("VmHWM") - before : -1;
}

double CpuSeconds(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double OwnCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return CpuSeconds(u);
}

// cp as a child process; its CPU time in seconds.
double CpOnce(const Files& f, const std::string& out) {
  std::string cp = "cp", src = f.swf, dst = out;
  char* argv[] = {cp.data(), src.data(), dst.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "cp", nullptr, nullptr, argv, environ) != 0) std::abort();
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    std::abort();
  return CpuSeconds(usage);
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

void BM_PlainExtraction64MiB(benchmark::State& state) {
  const Files& f = GetFiles();
  const std::string ours = (f.dir / "ours.swf").string();
  const std::string copied = (f.dir / "cp.swf").string();
  double oursTotal = 0, cpTotal = 0, oursCpu = 0, cpCpu = 0;
  long long oursPeak = 0;
  for (auto _ : state) {
    const double cpu0 = OwnCpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    oursPeak = std::max(oursPeak, OursOnce(f, ours));
    const auto t1 = std::chrono::steady_clock::now();
    oursCpu += OwnCpuSeconds() - cpu0;
    cpCpu += CpOnce(f, copied);
    const auto t2 = std::chrono::steady_clock::now();
    oursTotal += Seconds(t0, t1);
    cpTotal += Seconds(t1, t2);
    state.SetIterationTime(Seconds(t0, t1));
    // Removing the outputs is neither side's work.
    state.PauseTiming();
    if (std::filesystem::file_size(ours) != static_cast<std::uintmax_t>(kProgram)) std::abort();
    std::filesystem::remove(ours);
    std::filesystem::remove(copied);
    state.ResumeTiming();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["cp_ms"] = 1000 * cpTotal / n;
  state.counters["ratio_vs_cp"] = oursTotal / cpTotal;
  state.counters["cpu_ms"] = 1000 * oursCpu / n;
  state.counters["cp_cpu_ms"] = 1000 * cpCpu / n;
  state.counters["cpu_ratio_vs_cp"] = oursCpu / cpCpu;
  state.counters["peak_MiB"] = static_cast<double>(oursPeak) / 1024;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kProgram);
}
BENCHMARK(BM_PlainExtraction64MiB)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3);

}  // namespace

VELLO_SUMMARY_ROW(Time, "Plain extraction 64 MiB (load + UnpackSWF) vs cp", "BM_PlainExtraction64MiB",
                  "BM_PlainExtraction64MiB:cp_ms", AtMost(1.5));
VELLO_SUMMARY_ROW(Time, "  the same in CPU time", "BM_PlainExtraction64MiB:cpu_ms",
                  "BM_PlainExtraction64MiB:cp_cpu_ms", NoTarget());
