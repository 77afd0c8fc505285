// Base64 throughput of BaseEncode/BaseDecode against the coreutils base64
// command on the same 64 MiB of bytes. The command's figure is wall time
// of a whole run (spawn, read the file, write to /dev/null); all figures
// count raw bytes, so encode and decode rates compare directly.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/Summary.h"
#include "encryption/BaseDecode.h"
#include "encryption/BaseEncode.h"

extern char** environ;

namespace {

constexpr std::size_t kBytes = 64u << 20;

const std::vector<unsigned char>& Raw() {
  static const std::vector<unsigned char> raw = [] {
    std::vector<unsigned char> r(kBytes);
    std::mt19937_64 rng(3);
    for (std::size_t i = 0; i < r.size(); i += 8) {
      uint64_t v = rng();
      for (int j = 0; j < 8; ++j) r[i + j] = static_cast<unsigned char>(v >> (8 * j));
    }
    return r;
  }();
  return raw;
}

const std::string& Text() {
  static const std::string text = [] {
    std::string t(BaseEncode::Base64EncodeGetLength(kBytes), '\0');
    BaseEncode::Base64Encode(t.data(), Raw().data(), kBytes);
    return t;
  }();
  return text;
}

void EncodeVello(benchmark::State& state) {
  std::vector<char> out(BaseEncode::Base64EncodeGetLength(kBytes));
  for (auto _ : state) {
    benchmark::DoNotOptimize(BaseEncode::Base64Encode(out.data(), Raw().data(), kBytes));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

void DecodeVello(benchmark::State& state) {
  const std::string& text = Text();
  std::vector<unsigned char> out(BaseDecode::Base64DecodeGetLength(text.size()));
  for (auto _ : state) {
    benchmark::DoNotOptimize(BaseDecode::Base64Decode(out.data(), text.data(), text.size()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

// Writes `data` to a temporary file and returns its path.
std::string TempFile(const void* data, std::size_t size) {
  char path[] = "/tmp/vello-bench-XXXXXX";
  int fd = mkstemp(path);
  const char* p = static_cast<const char*>(data);
  for (std::size_t done = 0; fd >= 0 && done < size;) {
    ssize_t n = write(fd, p + done, size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (fd >= 0) close(fd);
  return path;
}

void Command(benchmark::State& state, bool decode) {
  const std::string input =
      decode ? TempFile(Text().data(), Text().size()) : TempFile(Raw().data(), kBytes);
  std::vector<std::string> argv = {"/usr/bin/base64", decode ? "-d" : "-w0", input};
  if (access(argv[0].c_str(), X_OK) != 0) {
    unlink(input.c_str());
    state.SkipWithError("base64 command not found");
    return;
  }
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int status = 0;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) == 0)
      waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    auto stop = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("base64 command failed");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
  }
  unlink(input.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

BENCHMARK(EncodeVello)->Name("Base64/encode/vello")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Command, encode, false)
    ->Name("Base64/encode/base64-command")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
VELLO_SUMMARY_ROW(Rate, "BaseEncode Base64 vs base64 -w0", "Base64/encode/vello",
                  "Base64/encode/base64-command", AtLeast(2.0));
BENCHMARK(DecodeVello)->Name("Base64/decode/vello")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Command, decode, true)
    ->Name("Base64/decode/base64-command")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
VELLO_SUMMARY_ROW(Rate, "BaseDecode Base64 vs base64 -d", "Base64/decode/vello",
                  "Base64/decode/base64-command", AtLeast(2.0));

}  // namespace
