// lumetta under the real XScreenSaver daemon, installed as the README says
// and named in a programs: line: the daemon starts it with its own options
// when it blanks the screen and stops it when it unblanks.

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "demo/DemoSwf.h"
#include "system/Peer_test.h"
#include "tests/lumetta/LumettaProcess_test.h"
#include "tests/lumetta/WindowPixels_test.h"  // last: Xlib

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// Generous: the machine may be busy building (the daemon's hack then starts
// behind everything else). The time to the first frame is printed, not
// judged.
constexpr auto kPlayLimit = 180s;
constexpr auto kStopLimit = 20s;

// Not yet ended (a zombie has ended).
bool Alive(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z' &&
         stat[close + 2] != 'X';
}

// Every process below root, with the name of its program.
std::map<pid_t, std::string> Descendants(pid_t root) {
  std::map<pid_t, std::string> found;
  for (pid_t child : ChildrenOf(root)) {
    const std::string command = ReadFile("/proc/" + std::to_string(child) + "/cmdline");
    found[child] = command.substr(0, command.find('\0'));
    found.merge(Descendants(child));
  }
  return found;
}

// One scratch folder for the suite: lumetta installed into prefix/ as a
// person would, and copies of the sanitizers' suppression files, all
// readable by the user the daemon runs as.
class XScreenSaverTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_why.clear();
    if (RunPeer({"sh", "-c", "command -v xscreensaver && command -v xscreensaver-command"}, "/dev/null") != 0) {
      s_why = "XScreenSaver is not installed (scripts/install-deps.sh installs xscreensaver)";
      return;
    }
    // XScreenSaver starts no hack as root: as root, the daemon runs as nobody.
    s_uid = getuid();
    s_gid = getgid();
    if (geteuid() == 0) {
      const passwd* nobody = getpwnam("nobody");
      if (nobody == nullptr) {
        s_why = "running as root, and there is no user nobody to run the daemon as";
        return;
      }
      s_uid = nobody->pw_uid;
      s_gid = nobody->pw_gid;
    }
    // /tmp itself: the folder must be reachable by that user.
    char folder[] = "/tmp/lumetta-xscreensaver.XXXXXX";
    if (mkdtemp(folder) == nullptr) {
      s_why = "no scratch folder in /tmp";
      return;
    }
    s_folder = folder;
    chmod(folder, 0755);
    // Installed already where a package manager put it, or installed
    // from the build tree here.
    s_lumetta = InstalledRoot("") + "/usr/bin/lumetta";
    const fs::path log = s_folder / "install.log";
    if (std::getenv("LUMETTA_TEST_INSTALLED_ROOT") == nullptr) {
      s_lumetta = s_folder / "prefix/bin/lumetta";
      // What it installs must be readable by everyone, whatever the umask.
      const mode_t umaskBefore = umask(022);
      const int installed = RunPeer({LUMETTA_CMAKE_COMMAND, "--install", VELLO_BINARY_DIR, "--prefix",
                                     (s_folder / "prefix").string()},
                                    log.string());
      umask(umaskBefore);
      if (installed != 0) {
        s_installFailure = "cmake --install failed (is everything built?):\n" + ReadFile(log);
        return;
      }
    }
    for (const char* file : {"lsan.supp", "ubsan.supp"})
      fs::copy_file(fs::path(LUMETTA_SANITIZER_SUPPRESSIONS) / file, s_folder / file);
    // The daemon's user may draw; the root is black, as a screen the
    // daemon has faded out is.
    s_server = new XvfbServer({"-ac", "-br"});
    if (s_server->display().empty()) s_why = "no X server for this test: " + s_server->why();
  }
  static void TearDownTestSuite() {
    delete s_server;
    s_server = nullptr;
    if (!s_folder.empty()) fs::remove_all(s_folder);
    s_folder.clear();
  }

  void SetUp() override {
    if (!s_why.empty()) GTEST_SKIP() << s_why;
    ASSERT_TRUE(s_installFailure.empty()) << s_installFailure;
    m_home = s_folder / ("home-" + TestName());
    m_temp = s_folder / ("tmp-" + TestName());
    for (const fs::path& folder : {m_home, m_temp}) {
      fs::remove_all(folder);
      fs::create_directory(folder);
      ASSERT_EQ(chown(folder.c_str(), s_uid, s_gid), 0) << folder;
    }
    m_display = XOpenDisplay(s_server->display().c_str());
    ASSERT_NE(m_display, nullptr);
  }
  void TearDown() override {
    if (m_daemon > 0) {
      kill(m_daemon, SIGTERM);
      waitpid(m_daemon, nullptr, 0);
    }
    if (m_display != nullptr) XCloseDisplay(m_display);
  }

  // Starts the daemon with a .xscreensaver that blanks with lumetta alone,
  // in the README's words, as the user chosen above.
  void StartDaemon() {
    std::ofstream(m_home / ".xscreensaver") << "mode: one\n"
                                               "selected: 0\n"
                                               "lock: False\n"
                                               "fade: False\n"
                                               "unfade: False\n"
                                               "splash: False\n"
                                               "timeout: 1:00:00\n"
                                               "programs: "
                                            << s_lumetta.string() << " --root\n";
    ASSERT_EQ(chown((m_home / ".xscreensaver").c_str(), s_uid, s_gid), 0);
    m_daemon = fork();
    if (m_daemon == 0) {
      const int devnull = open("/dev/null", O_RDWR);
      dup2(devnull, STDIN_FILENO);
      dup2(devnull, STDOUT_FILENO);
      dup2(devnull, STDERR_FILENO);
      const char* path = std::getenv("PATH");
      const std::string keepPath = path ? path : "/usr/bin:/bin";
      const char* asan = std::getenv("ASAN_OPTIONS");
      const std::string keepAsan = asan ? asan : "";
      clearenv();
      setenv("PATH", keepPath.c_str(), 1);
      if (!keepAsan.empty()) setenv("ASAN_OPTIONS", keepAsan.c_str(), 1);
      setenv("HOME", m_home.c_str(), 1);
      setenv("DISPLAY", s_server->display().c_str(), 1);
      setenv("TMPDIR", m_temp.c_str(), 1);
      setenv("NO_AT_BRIDGE", "1", 1);
      // The hacks inherit this; findings inside the toolkit are not ours.
      setenv("LSAN_OPTIONS", ("suppressions=" + (s_folder / "lsan.supp").string()).c_str(), 1);
      setenv("UBSAN_OPTIONS", ("suppressions=" + (s_folder / "ubsan.supp").string()).c_str(), 1);
      if (chdir(m_home.c_str()) != 0) _exit(126);
      if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(s_gid) != 0 || setuid(s_uid) != 0))
        _exit(126);
      const std::string log = (m_home / "xscreensaver.log").string();
      execlp("xscreensaver", "xscreensaver", "--no-splash", "--verbose", "--log", log.c_str(),
             static_cast<char*>(nullptr));
      _exit(127);
    }
  }

  // xscreensaver-command with one option; it fails until the daemon is up.
  int Command(const std::string& option) {
    return RunPeer({"env", "DISPLAY=" + s_server->display(), "xscreensaver-command", option}, "/dev/null");
  }

  std::string DaemonLog() const { return ReadFile(m_home / "xscreensaver.log"); }

  static inline fs::path s_folder;
  static inline fs::path s_lumetta;
  static inline std::string s_why;
  static inline std::string s_installFailure;
  static inline uid_t s_uid = 0;
  static inline gid_t s_gid = 0;
  static inline XvfbServer* s_server = nullptr;
  fs::path m_home;
  fs::path m_temp;
  Display* m_display = nullptr;
  pid_t m_daemon = -1;
};

// Activated, the daemon starts lumetta as the programs: line says and it
// covers the screen with the demo, the screen dark until then;
// deactivated, it and its web engine go and so do the extracted programs.
TEST_F(XScreenSaverTest, ActivateShowsTheDemoAndDeactivateEndsItClean) {
  StartDaemon();
  const auto up = Clock::now() + kStopLimit;
  while (Command("-activate") != 0) {
    ASSERT_LT(Clock::now(), up) << "the daemon did not come up:\n" << DaemonLog();
    std::this_thread::sleep_for(100ms);
  }

  DemoShown seen;
  std::vector<std::string> lit;
  const double firstFrame =
      WaitForDemo(m_display, DefaultRootWindow(m_display), kDemoMain, kPlayLimit, seen, &lit);
  ASSERT_GE(firstFrame, 0) << "the screen never showed the demo: " << seen.describe() << "\n"
                           << DaemonLog();
  EXPECT_EQ(lit, std::vector<std::string>{}) << "the screen lit up before the demo's first frame\n" << DaemonLog();
  std::cout << "seconds from -activate to the demo on the screen: " << firstFrame << "\n";
  RecordProperty("seconds_to_first_frame", std::to_string(firstFrame));

  std::map<pid_t, std::string> lumetta;
  for (const auto& [pid, program] : Descendants(m_daemon)) {
    if (program != s_lumetta.string()) continue;
    lumetta = Descendants(pid);
    lumetta[pid] = program;
  }
  ASSERT_FALSE(lumetta.empty()) << "no lumetta below the daemon:\n" << DaemonLog();
  size_t engines = 0;
  for (const auto& [pid, program] : lumetta) engines += program.find("WebKit") != std::string::npos;
  EXPECT_GE(engines, 1u) << "no web engine process below lumetta";
  // Read through their descriptors once the player has them.
  EXPECT_TRUE(fs::is_empty(m_temp)) << "programs named while it plays";

  ASSERT_EQ(Command("-deactivate"), 0);
  const auto asked = Clock::now();
  const auto alive = [&] {
    std::vector<std::string> programs;
    for (const auto& [pid, program] : lumetta)
      if (Alive(pid)) programs.push_back(program);
    return programs;
  };
  while (!alive().empty() && Clock::now() - asked < kStopLimit) std::this_thread::sleep_for(50ms);
  const double gone = std::chrono::duration<double>(Clock::now() - asked).count();
  EXPECT_EQ(alive(), std::vector<std::string>{}) << "still running after -deactivate";
  std::cout << "seconds from -deactivate to lumetta and its web engine gone: " << gone << "\n";
  RecordProperty("seconds_to_gone", std::to_string(gone));
  EXPECT_TRUE(fs::is_empty(m_temp)) << DaemonLog();
  EXPECT_NE(DaemonLog().find("deleted: " + m_temp.string() + "/ssftemp."), std::string::npos)
      << DaemonLog();
}

}  // namespace
