// lumetta run as itself, without a display, on each way out: whatever ends
// it, the programs it extracted are gone from its temporary folder, and
// the exit status says what happened.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "saver/SaverTestSupport_test.h"

namespace {

struct Exit {
  int status = -1;  // exit status, or -1
  int signal = 0;   // the signal that ended it, or 0
  std::string out, err;
};

// Runs lumetta headless on resources with TMPDIR set to temp. With
// closedOutput its standard output is a pipe nobody reads, as under
// `| head -1` once head is gone; else, once the extraction is reported,
// it is sent signal (unless 0) and its output read to the end.
// With a limit, the child's resource of that kind (RLIMIT_AS, RLIMIT_FSIZE)
// is limited to that many bytes.
struct Limit {
  int resource = RLIMIT_AS;
  rlim_t bytes = RLIM_INFINITY;
};
Exit RunLumetta(const std::string& resources, const std::string& temp, int signal, bool closedOutput,
                const std::string& errFile, Limit limit = {}) {
  int out[2];
  if (pipe(out) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(err, STDERR_FILENO);
    close(out[0]);
    close(out[1]);
    setenv("TMPDIR", temp.c_str(), 1);
    unsetenv("DISPLAY");
    const struct rlimit bytes = {limit.bytes, limit.bytes};
    setrlimit(limit.resource, &bytes);
    execl(LUMETTA_PROGRAM, LUMETTA_PROGRAM, "--platform", "headless", "--resources", resources.c_str(),
          "--seconds", signal != 0 ? "120" : "0", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  Exit result;
  if (closedOutput) {
    close(out[0]);
  } else {
    char buffer[4096];
    bool sent = signal == 0;
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) {
      result.out.append(buffer, static_cast<size_t>(n));
      if (!sent && result.out.find("settings program:") != std::string::npos) {
        kill(pid, signal);
        sent = true;
      }
    }
    close(out[0]);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  std::ifstream err(errFile);
  result.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
  return result;
}

class LumettaExitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_scratch = std::filesystem::path(::testing::TempDir()) /
                ("lumetta-exit-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                 "-" + std::to_string(getpid()));
    std::filesystem::remove_all(m_scratch);
    std::filesystem::create_directories(m_scratch / "tmp");
  }
  void TearDown() override { std::filesystem::remove_all(m_scratch); }

  std::string Temp() const { return (m_scratch / "tmp").string(); }
  std::string ErrFile() const { return (m_scratch / "stderr").string(); }
  size_t LeftBehind() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(m_scratch / "tmp"), {}));
  }

  std::filesystem::path m_scratch;
};

// Signals that ask a host to stop end it as a normal stop does; the others
// would have killed it with the programs left in place: now they are
// deleted first, and it still ends by that signal.
TEST_F(LumettaExitTest, EverySignalThatEndsItDeletesThePrograms) {
  struct Case {
    int signal;
    bool closedOutput;
    int status;  // expected exit status, or -1 when it ends by the signal
  };
  std::vector<Case> cases = {Case{SIGTERM, false, 0}, Case{SIGPIPE, true, -1}};
  for (int signal : {SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGIO, SIGPWR, SIGSYS,
                     SIGTRAP, SIGSTKFLT, SIGRTMIN, SIGRTMIN + 7, SIGRTMAX - 1})
    cases.push_back(Case{signal, false, -1});
  for (const Case& c : cases) {
    SCOPED_TRACE(strsignal(c.signal));
    const Exit exit = RunLumetta(LUMETTA_DEMO_RESOURCES, Temp(), c.signal, c.closedOutput, ErrFile());
    EXPECT_EQ(exit.status, c.status) << exit.out << exit.err;
    EXPECT_EQ(exit.signal, c.status < 0 ? c.signal : 0) << exit.out << exit.err;
    if (!c.closedOutput) {
      EXPECT_NE(exit.out.find("deleted: "), std::string::npos) << exit.out;
    }
    EXPECT_EQ(LeftBehind(), 0u) << exit.out << exit.err;
    std::filesystem::remove_all(Temp());  // each case counts its own
    std::filesystem::create_directories(Temp());
  }
}

// Its own package: by the folder name's bytes, whatever they are; and
// nothing that is not a regular file is read (a FIFO would block it for
// ever): exit 1, saying why.
TEST_F(LumettaExitTest, PackageFolderByItsBytesAndOnlyARegularFileAsPackage) {
  const std::filesystem::path odd = m_scratch / "caf\xe9";
  std::filesystem::create_directories(odd);
  std::filesystem::copy_file(std::string(LUMETTA_DEMO_RESOURCES) + "/vello.dat", odd / "vello.dat");
  Exit exit = RunLumetta(odd.string(), Temp(), 0, false, ErrFile());
  EXPECT_EQ(exit.status, 0) << exit.out << exit.err;
  EXPECT_NE(exit.out.find("deleted: "), std::string::npos) << exit.out;

  const std::filesystem::path fifo = m_scratch / "fifo";
  std::filesystem::create_directories(fifo);
  ASSERT_EQ(mkfifo((fifo / "vello.dat").c_str(), 0600), 0);
  exit = RunLumetta(fifo.string(), Temp(), 0, false, ErrFile());
  EXPECT_EQ(exit.status, 1) << exit.out << exit.err;
  EXPECT_NE(exit.err.find((fifo / "vello.dat").string() + " is not a regular file"), std::string::npos)
      << exit.err;
  EXPECT_EQ(LeftBehind(), 0u);
}

// Past the file-size limit a program's write fails and says why, instead
// of the signal ending lumetta with part of a program left behind.
TEST_F(LumettaExitTest, AFileSizeLimitIsAFailedWriteNotAKill) {
  const std::string resources = (m_scratch / "resources").string();
  std::filesystem::create_directories(resources);
  ASSERT_TRUE(SavePackage(resources, {FormContent{Bytes(256 << 10, 0x5a), {}, {}}}));
  std::filesystem::remove(resources + "/source.swf");
  const Exit exit = RunLumetta(resources, Temp(), 0, false, ErrFile(), Limit{RLIMIT_FSIZE, 64 << 10});
  EXPECT_EQ(exit.status, 1) << exit.out << exit.err;
  EXPECT_NE(exit.err.find("the main program cannot be written to the temporary folder " + Temp() +
                          ": File too large"),
            std::string::npos)
      << exit.err;
  EXPECT_EQ(LeftBehind(), 0u);
}

// Numbers on the command line read the same under a locale whose decimal
// mark is a comma.
TEST_F(LumettaExitTest, NumbersReadTheSameInEveryLocale) {
  const std::filesystem::path locales = m_scratch / "locales";
  std::filesystem::create_directories(locales);
  const std::string make = "localedef -i de_DE -f UTF-8 " + (locales / "de_DE.UTF-8").string() +
                           " >/dev/null 2>&1";
  if (std::system(make.c_str()) != 0) GTEST_SKIP() << "no de_DE locale could be made";
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("LOCPATH", locales.c_str(), 1);
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    setenv("TMPDIR", Temp().c_str(), 1);
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, STDOUT_FILENO);
    dup2(devnull, STDERR_FILENO);
    execl(LUMETTA_PROGRAM, LUMETTA_PROGRAM, "--platform", "headless", "--resources",
          LUMETTA_DEMO_RESOURCES, "--seconds", "0.5", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// The largest address space the process had, from /proc while it runs.
long long PeakAddressSpace(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmPeak:", 0) == 0) return std::stoll(line.substr(7)) * 1024;
  }
  return -1;
}

// Memory running out while the programs are extracted (the preview's copy
// cannot be made after the main program was written) is an exception that
// leaves main: it says so, exits 1, and the main program is deleted.
TEST_F(LumettaExitTest, RunningOutOfMemoryDeletesThePrograms) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than any limit leaves";
#else
  constexpr size_t kPreviewSize = 32u << 20;
  const std::string resources = (m_scratch / "resources").string();
  std::filesystem::create_directories(resources);
  ASSERT_TRUE(SavePackage(resources, {FormContent{BytesOf("FWS\x0a main"), Bytes(kPreviewSize, 0x5a)}}));
  std::filesystem::remove(resources + "/source.swf");

  // The peak of a run that goes through: both copies of the preview held.
  long long peak = -1;
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("TMPDIR", Temp().c_str(), 1);
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, STDOUT_FILENO);
    dup2(devnull, STDERR_FILENO);
    execl(LUMETTA_PROGRAM, LUMETTA_PROGRAM, "--platform", "headless", "--resources", resources.c_str(),
          "--seconds", "3", static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 100 && LeftBehind() < 2; ++i) usleep(20000);
  peak = PeakAddressSpace(pid);
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  ASSERT_GT(peak, 0);
  ASSERT_EQ(LeftBehind(), 0u);

  // Room for the stored preview, not for its copy as well.
  const Exit exit = RunLumetta(resources, Temp(), 0, false, ErrFile(),
                               Limit{RLIMIT_AS, static_cast<rlim_t>(peak) - kPreviewSize * 3 / 4});
  EXPECT_EQ(exit.status, 1) << exit.out << exit.err;
  EXPECT_NE(exit.err.find("lumetta: out of memory"), std::string::npos) << exit.err;
  EXPECT_EQ(LeftBehind(), 0u) << exit.out << exit.err;
#endif
}

}  // namespace

namespace {

// The window layer is a module loaded only for a window: the program alone,
// without it, still extracts and shows its page headless (it needs none of
// the toolkit for that), and asked for a window says what is missing.
TEST_F(LumettaExitTest, TheWindowLayerIsLoadedOnlyForAWindow) {
  const std::filesystem::path alone = m_scratch / "lumetta";
  std::filesystem::copy_file(LUMETTA_PROGRAM, alone);
  for (const char* platform : {"headless", "gtk"}) {
    SCOPED_TRACE(platform);
    const pid_t pid = fork();
    if (pid == 0) {
      setenv("TMPDIR", Temp().c_str(), 1);
      const int err = open(ErrFile().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(err, STDERR_FILENO);
      const int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, STDOUT_FILENO);
      execl(alone.c_str(), alone.c_str(), "--platform", platform, "--resources", LUMETTA_DEMO_RESOURCES,
            "--seconds", "0", static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    std::ifstream errStream(ErrFile());
    const std::string err((std::istreambuf_iterator<char>(errStream)), std::istreambuf_iterator<char>());
    const bool window = std::string(platform) == "gtk";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == (window ? 1 : 0)) << status << err;
    EXPECT_EQ(err.find("lumetta: cannot load the window layer: " + (m_scratch / "lumetta-gtk.so").string()) !=
                  std::string::npos,
              window)
        << err;
    EXPECT_EQ(LeftBehind(), 0u);
  }
}

}  // namespace
