#pragma once

// lumetta run as a child process on an X server of the test's own, its
// output kept in a file; and the fixture that shares one server per program.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "saver/SaverTestSupport_test.h"
#include "saver/platform/gtk/Xvfb_test.h"

// The whole text of a file; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The direct children of a process; none once it is gone.
inline std::vector<pid_t> ChildrenOf(pid_t pid) {
  std::vector<pid_t> children;
  std::error_code gone;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", gone)) {
    std::ifstream in(task.path() / "children");
    for (pid_t child; in >> child;) children.push_back(child);
  }
  return children;
}

// A size the kernel keeps of a process (VmPeak, VmHWM), in bytes; -1 when
// it is gone.
inline long long ProcessBytes(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field + ":", 0) == 0) return std::stoll(line.substr(field.size() + 1)) * 1024;
  return -1;
}

// An X window id as XScreenSaver writes it.
inline std::string Hex(unsigned long id) {
  char text[24];
  snprintf(text, sizeof text, "0x%lx", id);
  return text;
}

// The programs lumetta extracted (ssftemp.XXXXXX and its kind) still named
// in the folder, which may hold the toolkit's own files too.
inline size_t ExtractedPrograms(const std::filesystem::path& folder) {
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    count += name.size() == 14 && name.rfind("ss", 0) == 0 && name.substr(3, 5) == "temp.";
  }
  return count;
}

// A resource folder made to hold a package of these forms and nothing else
// (not the file each program was packed from).
inline bool MakePackageFolder(const std::filesystem::path& folder, const std::vector<FormContent>& forms) {
  std::filesystem::create_directories(folder);
  const bool saved = SavePackage(folder.string(), forms);
  std::filesystem::remove(folder / "source.swf");
  return saved;
}

#ifdef LUMETTA_SNAPSHOT_DIR
// Where a test keeps its snapshot and log for a person to look at: a folder
// per release, since the same tests run at once here and in a Debian root
// that sees this build tree, and would write over each other's files.
inline std::string SnapshotDir() {
  const char* release = std::getenv("LUMETTA_TEST_RELEASE");
  const std::string dir =
      std::string(LUMETTA_SNAPSHOT_DIR) + "/" + (release != nullptr && *release ? release : "this-machine");
  std::filesystem::create_directories(dir);
  return dir;
}
#endif

// The root folder below which the tests of the installed program find it
// (ROOT/usr/bin/lumetta, ROOT/usr/share/...): LUMETTA_TEST_INSTALLED_ROOT
// when set (in a Debian root where apt installed the package, "/"), else
// `fallback` (the build's own copy of what the package holds).
inline std::string InstalledRoot(const std::string& fallback) {
  const char* root = std::getenv("LUMETTA_TEST_INSTALLED_ROOT");
  std::string chosen = root != nullptr ? root : fallback;
  while (!chosen.empty() && chosen.back() == '/') chosen.pop_back();
  return chosen;
}

// lumetta (the build's, or `program`) on the display, with TMPDIR set to
// tempDir, XSCREENSAVER_WINDOW to screensaverWindow when not empty, and
// standard output and error into outputFile.
class LumettaProcess {
 public:
  LumettaProcess(const std::vector<std::string>& args, const std::string& display,
                 const std::string& tempDir, const std::string& outputFile,
                 const std::string& screensaverWindow = "",
                 const std::string& program = LUMETTA_PROGRAM)
      : m_outputFile(outputFile) {
    m_pid = fork();
    if (m_pid == 0) {
      const int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out, STDOUT_FILENO);
      dup2(out, STDERR_FILENO);
      setenv("DISPLAY", display.c_str(), 1);
      setenv("TMPDIR", tempDir.c_str(), 1);
      // No settings file of the person running the tests.
      setenv("XDG_CONFIG_HOME", tempDir.c_str(), 1);
      if (screensaverWindow.empty()) {
        unsetenv("XSCREENSAVER_WINDOW");
      } else {
        setenv("XSCREENSAVER_WINDOW", screensaverWindow.c_str(), 1);
      }
      unsetenv("WAYLAND_DISPLAY");
      // Under the sanitizers, findings inside the toolkit libraries are
      // theirs, not ours (see the two files).
      AddSuppressions("LSAN_OPTIONS", LUMETTA_SANITIZER_SUPPRESSIONS "/lsan.supp");
      AddSuppressions("UBSAN_OPTIONS", LUMETTA_SANITIZER_SUPPRESSIONS "/ubsan.supp");
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(program.c_str()));
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
  }
  ~LumettaProcess() {
    if (m_pid > 0 && !m_exited) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
  }

  static void AddSuppressions(const char* variable, const char* file) {
    const char* now = getenv(variable);
    const std::string options =
        std::string(now ? now : "") + (now && *now ? ":" : "") + "suppressions=" + file;
    setenv(variable, options.c_str(), 1);
  }

  std::string output() const { return ReadFile(m_outputFile); }

  // Waits until the output holds text, `times` times (true), or the
  // process ended or the time ran out (false).
  bool waitForOutput(const std::string& text, std::chrono::seconds limit, size_t times = 1) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (count(text) >= times) return true;
      if (reap(false)) return count(text) >= times;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  // How often text occurs in the output so far.
  size_t count(const std::string& text) const {
    const std::string all = output();
    size_t n = 0;
    for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + text.size()))
      ++n;
    return n;
  }

  pid_t pid() const { return m_pid; }

  // Waits for the exit without asking for it.
  int waitForExit(std::chrono::seconds limit) { return stopWith(0, limit); }

  // Sends the signal and waits for the exit; the exit status, or -1 when
  // it did not exit normally within the limit.
  int stopWith(int signal, std::chrono::seconds limit) {
    if (!m_exited) kill(m_pid, signal);
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!reap(false) && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return m_exited && WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1;
  }

 private:
  bool reap(bool block) {
    if (m_exited) return true;
    if (waitpid(m_pid, &m_status, block ? 0 : WNOHANG) == m_pid) m_exited = true;
    return m_exited;
  }

  std::string m_outputFile;
  pid_t m_pid = -1;
  bool m_exited = false;
  int m_status = 0;
};

// The running test's name, for its files.
inline std::string TestName() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }

// A new, empty folder for the running test: named after it and this
// process, so runs side by side (another checkout's too) never share one.
inline std::filesystem::path FreshTestFolder(const std::string& prefix) {
  const std::filesystem::path folder =
      std::filesystem::path(::testing::TempDir()) / (prefix + TestName() + "-" + std::to_string(getpid()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

// Tests that share one Xvfb per test program; each test is skipped when
// it could not start.
class XvfbTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_server = new XvfbServer(); }
  static void TearDownTestSuite() {
    delete s_server;
    s_server = nullptr;
  }
  void SetUp() override {
    if (s_server->display().empty()) GTEST_SKIP() << "no X server for this test: " << s_server->why();
  }

  inline static XvfbServer* s_server = nullptr;
};
