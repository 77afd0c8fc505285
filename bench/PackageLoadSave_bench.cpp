// Loading and saving a package that holds 64 MiB of resources and files,
// against `cp` of the same file, in one run: Load reads every byte run and
// Save writes them back atomically (temporary file, flush, fsync, rename),
// so the fair peer is cp followed by an fsync of the copy; plain cp is
// reported beside it. The peak resident memory of the load and save, run
// in a child process whose high-water mark is reset first, is reported
// relative to the file size.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "builder_package/Package.h"
#include "bench/Summary.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kMiB = 1 << 20;

void WriteFile(const fs::path& path, const std::vector<unsigned char>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Bytes of 4 bits of entropy each: zlib stores them in about half.
std::vector<unsigned char> HalfCompressible(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<unsigned char> out(size);
  for (auto& b : out) b = static_cast<unsigned char>('a' + rng() % 16);
  return out;
}

std::vector<unsigned char> Noise(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<unsigned char> out(size);
  for (auto& b : out) b = static_cast<unsigned char>(rng());
  return out;
}

struct Fixture {
  fs::path dir;
  fs::path package;
  long long size = 0;

  Fixture() {
    std::string pattern = (fs::temp_directory_path() / "vello-bench.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    dir = pattern;
    CPackage p;
    // Files: 4 of 8 MiB; resources: splash, tray icon, flash and xul of
    // about 8 MiB stored each.
    for (int i = 0; i < 4; ++i) {
      const fs::path file = dir / ("file" + std::to_string(i));
      WriteFile(file, Noise(8 * kMiB, static_cast<unsigned>(i)));
      if (!p.PackFile(L"file" + std::to_wstring(i), file.wstring())) std::abort();
    }
    const fs::path resource = dir / "resource";
    WriteFile(resource, HalfCompressible(16 * kMiB, 9));
    if (!(p.PackSplash(resource.wstring()) && p.PackTrayIcon(resource.wstring()) &&
          p.PackFlash(resource.wstring()) && p.PackXul(resource.wstring())))
      std::abort();
    fs::remove(resource);
    package = dir / "vello.dat";
    if (!p.Save(0, package.wstring())) std::abort();
    size = static_cast<long long>(fs::file_size(package));
  }
  ~Fixture() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
};

const Fixture& GetFixture() {
  static const Fixture fixture;
  return fixture;
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Returns the seconds the load took.
double LoadAndSave(const Fixture& f) {
  const auto t0 = std::chrono::steady_clock::now();
  CPackage p;
  if (!p.Load(0, f.package.wstring())) std::abort();
  const auto t1 = std::chrono::steady_clock::now();
  if (!p.Save(0, (f.dir / "saved.dat").wstring())) std::abort();
  return Seconds(t0, t1);
}

void Copy(const Fixture& f, bool sync) {
  const std::string from = f.package.string(), to = (f.dir / "copy.dat").string();
  char* argv[] = {const_cast<char*>("cp"), const_cast<char*>(from.c_str()),
                  const_cast<char*>(to.c_str()), nullptr};
  pid_t child;
  int status = 0;
  if (posix_spawnp(&child, "cp", nullptr, nullptr, argv, environ) != 0 ||
      waitpid(child, &status, 0) != child || status != 0)
    std::abort();
  if (!sync) return;
  const int fd = open(to.c_str(), O_RDONLY);
  if (fd < 0 || fsync(fd) != 0) std::abort();
  close(fd);
}

long long StatusKiB(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(key, 0) == 0) return std::atoll(line.c_str() + std::string(key).size());
  return -1;
}

// Peak resident bytes added by one load and save, measured in a child.
long long PeakOfLoadAndSave(const Fixture& f) {
  int pipeFd[2];
  if (pipe(pipeFd) != 0) std::abort();
  const pid_t child = fork();
  if (child == 0) {
    close(pipeFd[0]);
    // Heap memory the parent freed but kept would be reused unseen: hand it
    // back first, so the rise counts every byte the load and save need.
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";  // resets VmHWM
    const long long before = StatusKiB("VmRSS:");
    LoadAndSave(f);
    const long long peak = (StatusKiB("VmHWM:") - before) * 1024;
    (void)!write(pipeFd[1], &peak, sizeof peak);
    _exit(0);
  }
  close(pipeFd[1]);
  long long peak = -1;
  if (read(pipeFd[0], &peak, sizeof peak) != sizeof peak) peak = -1;
  close(pipeFd[0]);
  waitpid(child, nullptr, 0);
  return peak;
}

void BM_PackageLoadSave64MiB(benchmark::State& state) {
  const Fixture& f = GetFixture();
  double ours = 0, load = 0, cp = 0, cpSync = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    load += LoadAndSave(f);
    const auto t1 = std::chrono::steady_clock::now();
    Copy(f, false);
    const auto t2 = std::chrono::steady_clock::now();
    Copy(f, true);
    const auto t3 = std::chrono::steady_clock::now();
    ours += Seconds(t0, t1);
    cp += Seconds(t1, t2);
    cpSync += Seconds(t2, t3);
    state.SetIterationTime(Seconds(t0, t1));
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["file_MiB"] = static_cast<double>(f.size) / kMiB;
  state.counters["load_ms"] = 1000 * load / n;
  state.counters["cp_ms"] = 1000 * cp / n;
  state.counters["cp_fsync_ms"] = 1000 * cpSync / n;
  state.counters["ratio_vs_cp"] = ours / cp;
  state.counters["ratio_vs_cp_fsync"] = ours / cpSync;
  state.counters["peak_over_file"] =
      static_cast<double>(PeakOfLoadAndSave(f)) / static_cast<double>(f.size);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * f.size);
}
BENCHMARK(BM_PackageLoadSave64MiB)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3);

}  // namespace

VELLO_SUMMARY_ROW(Time, "Load + save of a 64 MiB package vs cp", "BM_PackageLoadSave64MiB",
                  "BM_PackageLoadSave64MiB:cp_ms", AtMost(1.5));
VELLO_SUMMARY_ROW(Time, "  the same vs cp + fsync (save is atomic)", "BM_PackageLoadSave64MiB",
                  "BM_PackageLoadSave64MiB:cp_fsync_ms", NoTarget());
VELLO_SUMMARY_ROW(Value, "Peak memory of that load + save / file size", "BM_PackageLoadSave64MiB:peak_over_file",
                  nullptr, AtMost(2.5));
