// lumetta run as itself, without a display, on each way out: whatever ends
// it, the programs it extracted are gone from its temporary folder, and
// the exit status says what happened.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "saver/SaverTestSupport_test.h"
#include "tests/lumetta/LumettaProcess_test.h"

namespace {

struct Exit {
  int status = -1;  // exit status, or -1
  int signal = 0;   // the signal that ended it, or 0
  std::string out, err;
};

// How lumetta is run: headless, with TMPDIR set to the test's folder.
struct Launch {
  std::string resources = LUMETTA_DEMO_RESOURCES;
  std::string program = LUMETTA_PROGRAM;
  const char* platform = "headless";
  const char* seconds = "0";
  // Called once the extraction is reported (say, to send a signal).
  std::function<void(pid_t)> extracted;
  // Its standard output a pipe nobody reads, as under `| head -1` once
  // head is gone.
  bool closedOutput = false;
  // The child's resource of that kind (RLIMIT_AS, RLIMIT_FSIZE) limited to
  // that many bytes.
  int limited = RLIMIT_AS;
  rlim_t bytes = RLIM_INFINITY;
  std::vector<std::pair<const char*, std::string>> environment;
};

class LumettaExitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_scratch = FreshTestFolder("lumetta-exit-");
    std::filesystem::create_directories(m_scratch / "tmp");
  }
  void TearDown() override { std::filesystem::remove_all(m_scratch); }

  std::string Temp() const { return (m_scratch / "tmp").string(); }

  Exit Lumetta(const Launch& run) {
    const std::string errFile = (m_scratch / "stderr").string();
    int out[2];
    if (pipe(out) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(out[1], STDOUT_FILENO);
      const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(err, STDERR_FILENO);
      close(out[0]);
      close(out[1]);
      setenv("TMPDIR", Temp().c_str(), 1);
      unsetenv("DISPLAY");
      for (const auto& [name, value] : run.environment) setenv(name, value.c_str(), 1);
      const struct rlimit bytes = {run.bytes, run.bytes};
      setrlimit(run.limited, &bytes);
      execl(run.program.c_str(), run.program.c_str(), "--platform", run.platform, "--resources",
            run.resources.c_str(), "--seconds", run.seconds, static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    Exit result;
    char buffer[4096];
    bool told = !run.extracted;
    for (ssize_t n; !run.closedOutput && (n = read(out[0], buffer, sizeof buffer)) > 0;) {
      result.out.append(buffer, static_cast<size_t>(n));
      if (!told && result.out.find("settings program:") != std::string::npos) {
        run.extracted(pid);
        told = true;
      }
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.err = ReadFile(errFile);
    return result;
  }

  // A resource folder of its own holding a package of one form.
  std::string Package(const FormContent& form) {
    const std::filesystem::path resources = m_scratch / "resources";
    EXPECT_TRUE(MakePackageFolder(resources, {form}));
    return resources.string();
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
    Launch run;
    run.seconds = "120";
    run.closedOutput = c.closedOutput;
    if (!c.closedOutput) run.extracted = [&](pid_t pid) { kill(pid, c.signal); };
    const Exit exit = Lumetta(run);
    EXPECT_EQ(exit.status, c.status) << exit.out << exit.err;
    EXPECT_EQ(exit.signal, c.status < 0 ? c.signal : 0) << exit.out << exit.err;
    if (!c.closedOutput) {
      EXPECT_NE(exit.out.find("deleted: "), std::string::npos) << exit.out;
    }
    EXPECT_TRUE(std::filesystem::is_empty(Temp())) << exit.out << exit.err;
    std::filesystem::remove_all(Temp());  // each case counts its own
    std::filesystem::create_directories(Temp());
  }
}

// Its own package by the folder name's bytes, whatever they are; and the
// numbers on the command line read the same under a locale whose decimal
// mark is a comma.
TEST_F(LumettaExitTest, PackageFolderByItsBytesAndNumbersInEveryLocale) {
  const std::filesystem::path odd = m_scratch / "caf\xe9";
  std::filesystem::create_directories(odd);
  std::filesystem::copy_file(std::string(LUMETTA_DEMO_RESOURCES) + "/vello.dat", odd / "vello.dat");
  Launch run;
  run.resources = odd.string();
  Exit exit = Lumetta(run);
  EXPECT_EQ(exit.status, 0) << exit.out << exit.err;

  const std::filesystem::path locales = m_scratch / "locales";
  std::filesystem::create_directories(locales);
  const std::string make = "localedef -i de_DE -f UTF-8 " + (locales / "de_DE.UTF-8").string() +
                           " >/dev/null 2>&1";
  if (std::system(make.c_str()) != 0) GTEST_SKIP() << "no de_DE locale could be made";
  run = Launch{};
  run.seconds = "0.5";
  run.environment = {{"LOCPATH", locales.string()}, {"LC_ALL", "de_DE.UTF-8"}};
  exit = Lumetta(run);
  EXPECT_EQ(exit.status, 0) << exit.out << exit.err;
}

// Past the file-size limit a program's write fails and says why, instead
// of the signal ending lumetta with part of a program left behind.
TEST_F(LumettaExitTest, AFileSizeLimitIsAFailedWriteNotAKill) {
  Launch run;
  run.resources = Package(FormContent{Bytes(256 << 10, 0x5a), {}, {}});
  run.limited = RLIMIT_FSIZE;
  run.bytes = 64 << 10;
  const Exit exit = Lumetta(run);
  EXPECT_EQ(exit.status, 1) << exit.out << exit.err;
  EXPECT_NE(exit.err.find("the main program cannot be written to the temporary folder " + Temp() +
                          ": File too large"),
            std::string::npos)
      << exit.err;
  EXPECT_TRUE(std::filesystem::is_empty(Temp()));
}

// Memory running out while the programs are extracted (the preview's copy
// cannot be made after the main program was written) is an exception that
// leaves main: it says so, exits 1, and the main program is deleted.
TEST_F(LumettaExitTest, RunningOutOfMemoryDeletesThePrograms) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than any limit leaves";
#else
  constexpr size_t kPreviewSize = 32u << 20;
  Launch run;
  run.resources = Package(FormContent{BytesOf("FWS\x0a main"), Bytes(kPreviewSize, 0x5a), {}});
  // The peak of a run that goes through: both copies of the preview held.
  long long peak = -1;
  run.seconds = "3";
  run.extracted = [&](pid_t pid) {
    peak = ProcessBytes(pid, "VmPeak");
    kill(pid, SIGTERM);
  };
  Lumetta(run);
  ASSERT_GT(peak, 0);
  ASSERT_TRUE(std::filesystem::is_empty(Temp()));

  // Room for the stored preview, not for its copy as well.
  run.seconds = "0";
  run.extracted = nullptr;
  run.bytes = static_cast<rlim_t>(peak) - kPreviewSize * 3 / 4;
  const Exit exit = Lumetta(run);
  EXPECT_EQ(exit.status, 1) << exit.out << exit.err;
  EXPECT_NE(exit.err.find("lumetta: out of memory"), std::string::npos) << exit.err;
  EXPECT_TRUE(std::filesystem::is_empty(Temp())) << exit.out << exit.err;
#endif
}

// The window layer is a module loaded only for a window: the program alone,
// without it, still extracts and shows its page headless (it needs none of
// the toolkit for that), and asked for a window says what is missing.
TEST_F(LumettaExitTest, TheWindowLayerIsLoadedOnlyForAWindow) {
  Launch run;
  run.program = (m_scratch / "lumetta").string();
  std::filesystem::copy_file(LUMETTA_PROGRAM, run.program);
  for (const char* platform : {"headless", "gtk"}) {
    SCOPED_TRACE(platform);
    run.platform = platform;
    const Exit exit = Lumetta(run);
    const bool window = std::string(platform) == "gtk";
    EXPECT_EQ(exit.status, window ? 1 : 0) << exit.err;
    EXPECT_EQ(exit.err.find("lumetta: cannot load the window layer: " + (m_scratch / "lumetta-gtk.so").string()) !=
                  std::string::npos,
              window)
        << exit.err;
    EXPECT_TRUE(std::filesystem::is_empty(Temp()));
  }
}

}  // namespace
