// The vello program on big content, run as a process the way people run
// it, against peers doing the same job:
// - `vello pack --protect` of a 16 MiB program, against the same
//   primitives called directly through OpenSSL (key generation, PEM, Base64,
//   RSA-1024 OAEP on one chunk in 48, OpenSSL's Blowfish ECB on the
//   others) with the same file read and package write;
// - `vello extract` of a package holding a 64 MiB plain program, against
//   `cp` of the program file;
// - lumetta (headless, stopping at once) extracting the same package's
//   main program to its temporary file and deleting it, against the same
//   `cp`.
// Each side is timed by CPU time (user + system; a child's from its
// rusage), in turn within each iteration, so load on the shared machine
// weighs on both alike.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "bench/Paired.h"
#include "bench/Summary.h"
#include "encryption/OpenSslBlowfish_test.h"

namespace {

using Bytes = std::vector<unsigned char>;
namespace fs = std::filesystem;

double ChildrenSeconds() {
  rusage r{};
  getrusage(RUSAGE_CHILDREN, &r);
  return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
         1e-6 * static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec);
}

// Runs the program to its end; aborts the benchmark run if it fails.
void Spawn(std::vector<std::string> args) {
  const pid_t pid = fork();
  if (pid == 0) {
    // What the programs say (lumetta shows its page) is not the figure.
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, STDOUT_FILENO);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", args[0].c_str());
    std::abort();
  }
}

// A scratch folder for the run, removed at the end.
struct Scratch {
  fs::path path;
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "vello-bench.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path = pattern;
  }
  ~Scratch() { fs::remove_all(path); }
  std::string File(const char* name) const { return (path / name).string(); }
};

// An FWS program of n bytes with a body that neither repeats nor
// compresses much.
std::string WriteProgram(const Scratch& scratch, size_t n) {
  Bytes b(n);
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    b[i] = static_cast<unsigned char>(x);
  }
  b[0] = 'F', b[1] = 'W', b[2] = 'S', b[3] = 10;
  for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<unsigned char>(n >> (8 * i));
  const std::string path = scratch.File("program.swf");
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(n));
  return path;
}

// Times ours (a child) and the peer in turn; sets ours_s, peer_s (CPU
// seconds per run) and ratio (ours / peer).
template <typename Ours, typename Peer, typename PeerClock>
void RunInTurn(benchmark::State& state, Ours&& ours, Peer&& peer, PeerClock&& peerClock) {
  double ours_s = 0, peer_s = 0;
  bool ours_first = true;
  for (auto _ : state) {
    for (int side = 0; side < 2; ++side) {
      const bool runOurs = (side == 0) == ours_first;
      const double t0 = runOurs ? ChildrenSeconds() : peerClock();
      runOurs ? ours() : peer();
      (runOurs ? ours_s : peer_s) += (runOurs ? ChildrenSeconds() : peerClock()) - t0;
    }
    ours_first = !ours_first;
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["ours_s"] = ours_s / runs;
  state.counters["peer_s"] = peer_s / runs;
  state.counters["ratio"] = ours_s / peer_s;
}

// A buffer of n bytes backed by huge pages where the kernel allows, as the
// vello program's large buffers are, so that both sides pay alike for
// touching fresh memory.
struct HugeBuffer {
  explicit HugeBuffer(size_t n) : size(n) {
    constexpr size_t kHuge = 2u << 20;
    const size_t rounded = (n + kHuge - 1) / kHuge * kHuge;
    data = static_cast<unsigned char*>(std::aligned_alloc(kHuge, rounded));
    if (data == nullptr) std::abort();
    madvise(data, rounded, MADV_HUGEPAGE);
  }
  ~HugeBuffer() { std::free(data); }
  HugeBuffer(const HugeBuffer&) = delete;
  HugeBuffer& operator=(const HugeBuffer&) = delete;
  unsigned char* data;
  size_t size;
};

// The protected packing done with OpenSSL's own calls.
void OpenSslProtectedPack(const std::string& in, const std::string& out) {
  HugeBuffer swf(fs::file_size(in));
  FILE* file = std::fopen(in.c_str(), "rb");
  if (file == nullptr || std::fread(swf.data, 1, swf.size, file) != swf.size) std::abort();
  std::fclose(file);
  EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(1024));
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey_traditional(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
  char* pem = nullptr;
  const long pemLength = BIO_get_mem_data(bio, &pem);
  if (key == nullptr || pemLength < 80) std::abort();

  HugeBuffer textBuffer(4 * ((swf.size + 2) / 3) + 1);
  const std::string_view text(reinterpret_cast<const char*>(textBuffer.data),
                              static_cast<size_t>(EVP_EncodeBlock(textBuffer.data, swf.data, static_cast<int>(swf.size))));
  EVP_PKEY_CTX* rsa = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
  EVP_PKEY_encrypt_init(rsa);
  EVP_PKEY_CTX_set_rsa_padding(rsa, RSA_PKCS1_OAEP_PADDING);
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "BF-ECB", nullptr);
  EVP_CIPHER_CTX* bf = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex2(bf, cipher, nullptr, nullptr, nullptr);
  EVP_CIPHER_CTX_set_key_length(bf, 32);
  EVP_EncryptInit_ex2(bf, nullptr, reinterpret_cast<const unsigned char*>(pem + 48), nullptr, nullptr);
  EVP_CIPHER_CTX_set_padding(bf, 0);

  constexpr size_t K = 128, M = K - 42;
  HugeBuffer payload((text.size() / M + 1) * K);
  size_t end = 0;
  unsigned char block[K] = {};
  for (size_t i = 0, at = 0; at < text.size(); ++i, at += M, end += K) {
    const size_t n = std::min(M, text.size() - at);
    if (i % 48 == 0) {
      size_t outLength = K;
      if (EVP_PKEY_encrypt(rsa, payload.data + end, &outLength,
                           reinterpret_cast<const unsigned char*>(text.data() + at), n) <= 0)
        std::abort();
    } else {
      std::memcpy(block, text.data() + at, n);
      int outLength = 0;
      EVP_EncryptUpdate(bf, payload.data + end, &outLength, block, static_cast<int>(K));
    }
    std::memcpy(block, payload.data + end, K);
  }
  FILE* package = std::fopen(out.c_str(), "wb");
  std::fwrite(pem, 1, static_cast<size_t>(pemLength), package);
  std::fwrite(payload.data, 1, end, package);
  std::fclose(package);

  EVP_CIPHER_CTX_free(bf);
  EVP_CIPHER_free(cipher);
  EVP_PKEY_CTX_free(rsa);
  BIO_free_all(bio);
  EVP_PKEY_free(key);
}

void BM_VelloPackProtected16MiB(benchmark::State& state) {
  if (!vello_test::LoadLegacyProvider()) {
    state.SkipWithError("OpenSSL's legacy provider (Blowfish) is not installed");
    return;
  }
  const Scratch scratch;
  const std::string program = WriteProgram(scratch, 16u << 20);
  RunInTurn(
      state,
      [&] { Spawn({VELLO_PROGRAM, "pack", "-q", "--force", "-o", scratch.File("ours.dat"), "--main", program, "--protect"}); },
      [&] { OpenSslProtectedPack(program, scratch.File("peer.dat")); }, vello_bench::ThreadSeconds);
}
BENCHMARK(BM_VelloPackProtected16MiB)->Unit(benchmark::kMillisecond)->Iterations(4);

void BM_VelloExtract64MiB(benchmark::State& state) {
  const Scratch scratch;
  const std::string program = WriteProgram(scratch, 64u << 20);
  Spawn({VELLO_PROGRAM, "pack", "-q", "--force", "-o", scratch.File("plain.dat"), "--main", program});
  RunInTurn(
      state,
      [&] { Spawn({VELLO_PROGRAM, "extract", "-q", "--force", scratch.File("plain.dat"), "-o", scratch.File("out")}); },
      [&] { Spawn({"cp", program, scratch.File("copy.swf")}); }, ChildrenSeconds);
}
BENCHMARK(BM_VelloExtract64MiB)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_LumettaExtract64MiB(benchmark::State& state) {
  const Scratch scratch;
  const std::string program = WriteProgram(scratch, 64u << 20);
  fs::create_directories(scratch.path / "resources");
  fs::create_directories(scratch.path / "tmp");
  Spawn({VELLO_PROGRAM, "pack", "-q", "--force", "-o", scratch.File("resources/vello.dat"), "--main", program});
  setenv("TMPDIR", scratch.File("tmp").c_str(), 1);
  RunInTurn(
      state,
      [&] {
        Spawn({LUMETTA_PROGRAM, "--platform", "headless", "--resources", scratch.File("resources"),
               "--seconds", "0"});
      },
      [&] { Spawn({"cp", program, scratch.File("copy.swf")}); }, ChildrenSeconds);
  unsetenv("TMPDIR");
  // Most of a run is the start of a program linked with the web engine's
  // libraries (their relocation alone is about 0.1 s): shown apart, so the
  // extraction's own share can be seen.
  constexpr int kStarts = 5;
  const double t0 = ChildrenSeconds();
  for (int i = 0; i < kStarts; ++i) Spawn({LUMETTA_PROGRAM, "--help"});
  const double start = (ChildrenSeconds() - t0) / kStarts;
  state.counters["start_s"] = start;
  state.counters["extraction_ratio"] = (state.counters["ours_s"] - start) / state.counters["peer_s"];
}
BENCHMARK(BM_LumettaExtract64MiB)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

VELLO_SUMMARY_ROW(Time, "vello pack --protect 16 MiB vs OpenSSL primitives",
                  "BM_VelloPackProtected16MiB:ours_s", "BM_VelloPackProtected16MiB:peer_s", AtMost(1.2));
VELLO_SUMMARY_ROW(Time, "vello extract 64 MiB plain vs cp", "BM_VelloExtract64MiB:ours_s",
                  "BM_VelloExtract64MiB:peer_s", AtMost(1.5));
VELLO_SUMMARY_ROW(Time, "lumetta extracts 64 MiB plain main program vs cp",
                  "BM_LumettaExtract64MiB:ours_s", "BM_LumettaExtract64MiB:peer_s", AtMost(1.5));
VELLO_SUMMARY_ROW(Value, "  the same less lumetta's start (--help), / cp", "BM_LumettaExtract64MiB:extraction_ratio",
                  nullptr, AtMost(1.5));
