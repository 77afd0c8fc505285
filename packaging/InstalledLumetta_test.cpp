// lumetta as users get it, each under an Xvfb of the test's own: the
// programs of the .deb, unpacked into a folder, play the demo package that
// came with them; and MATE's real screensaver, given the package's theme
// file, runs that lumetta in its window on the package the user's
// settings file names.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "saver/SaverTestSupport_test.h"
#include "tests/lumetta/LumettaProcess_test.h"
#include "tests/lumetta/WindowPixels_test.h"  // last: Xlib

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Generous: the machine may be busy building.
constexpr auto kPlayLimit = 120s;
constexpr auto kStopLimit = 20s;

// The unpacked package, or the root the package was installed in.
std::string DebRoot() { return InstalledRoot(LUMETTA_DEB_ROOT); }

// The running test's scratch folder, kept when the test failed.
struct Scratch {
  const fs::path path = FreshTestFolder("installed-");
  ~Scratch() {
    if (!::testing::Test::HasFailure()) fs::remove_all(path);
  }
};

TEST(DebPackage, UnpackedLumettaPlaysItsOwnDemoWithItsOwnPlayer) {
  XvfbServer server;
  ASSERT_FALSE(server.display().empty()) << server.why();
  const Scratch scratch;
  const fs::path& work = scratch.path;
  const fs::path temp = work / "tmp";
  fs::create_directories(temp);
  const std::string png = (work / "snapshot.png").string();

  // No --resources: the package and the player are found beside the
  // program, and nothing of the build tree is known to it.
  LumettaProcess lumetta({"--platform", "gtk", "--window-size", "550x400", "--snapshot", png,
                          "--seconds", "300"},
                         server.display(), temp.string(), (work / "lumetta.log").string(), "",
                         DebRoot() + "/usr/bin/lumetta");
  ASSERT_TRUE(lumetta.waitForOutput("snapshot: ", kPlayLimit)) << lumetta.output();
  EXPECT_EQ(lumetta.stopWith(SIGTERM, kStopLimit), 0) << lumetta.output();
  EXPECT_EQ(FileCount(temp), 0u) << "extracted programs left behind";
  ExpectDemoProgram(png, 550, 400, kDemoMain);
}

// Whether the process runs that program. By the file, not by the path the
// process's exe link shows: seen from another mount namespace inside a
// chroot (MATE's session in a Debian root), that path starts outside it.
bool Runs(pid_t pid, const std::string& program) {
  std::error_code ec;
  return fs::equivalent("/proc/" + std::to_string(pid) + "/exe", program, ec);
}

// The pid of every process on that display (DISPLAY in its environment)
// whose program is lumetta or one of WebKit's: what the daemon started.
std::vector<pid_t> SaverProcesses(const std::string& display, const std::string& lumetta) {
  std::vector<pid_t> found;
  const std::string entry = '\0' + std::string("DISPLAY=") + display + '\0';
  for (const fs::directory_entry& proc : fs::directory_iterator("/proc")) {
    const std::string name = proc.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code ec;
    const std::string exe = fs::read_symlink(proc.path() / "exe", ec).string();
    if (ec || (!Runs(std::stoi(name), lumetta) && exe.find("WebKit") == std::string::npos)) continue;
    if (('\0' + ReadFile(proc.path() / "environ")).find(entry) != std::string::npos)
      found.push_back(std::stoi(name));
  }
  return found;
}

// The programs these processes extracted, which lumetta holds open until it
// deletes them: only theirs, as other lumettas share /tmp (MATE's
// screensaver passes no TMPDIR). Known by device and inode and by the name
// they had in /tmp: the link's path may start outside /tmp (a chroot seen
// from another mount namespace), and ends in " (deleted)" once it is gone.
struct ExtractedProgram {
  fs::path file;
  dev_t device;
  ino_t inode;
};

std::vector<ExtractedProgram> ProgramsOpenedBy(const std::vector<pid_t>& pids) {
  std::vector<ExtractedProgram> found;
  for (pid_t pid : pids) {
    std::error_code ec;
    for (const fs::directory_entry& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
      std::string name = fs::read_symlink(fd.path(), ec).filename().string();
      const std::string deleted = " (deleted)";
      if (name.size() > deleted.size() && name.ends_with(deleted)) name.resize(name.size() - deleted.size());
      struct stat st = {};
      if (ec || stat(fd.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      for (const char* prefix : {"ssftemp.", "ssptemp.", "ssstemp."})
        if (name.rfind(prefix, 0) == 0) found.push_back({fs::path("/tmp") / name, st.st_dev, st.st_ino});
    }
  }
  return found;
}

// The program still has its name in /tmp.
bool StillNamed(const ExtractedProgram& program) {
  struct stat st = {};
  return stat(program.file.c_str(), &st) == 0 && st.st_dev == program.device &&
         st.st_ino == program.inode;
}

// The session script in a mount namespace of its own, with the environment
// of a user whose data folders include the unpacked package's; its folder
// of hacks holds a link to the unpacked lumetta.
class MateSession {
 public:
  MateSession(const fs::path& work, const std::string& display) : m_work(work) {
    const fs::path home = work / "home", runtime = work / "run";
    fs::create_directories(home);
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    fs::create_directories(work / "hacks");
    fs::create_symlink(DebRoot() + "/usr/bin/lumetta", work / "hacks" / "lumetta");
    m_pid = fork();
    if (m_pid == 0) {
      // A group of its own, so that whatever it leaves can be ended at once.
      setpgid(0, 0);
      const int out = open((work / "session.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out, STDOUT_FILENO);
      dup2(out, STDERR_FILENO);
      setenv("DISPLAY", display.c_str(), 1);
      setenv("HOME", home.c_str(), 1);
      setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
      setenv("XDG_CACHE_HOME", (home / ".cache").c_str(), 1);
      setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
      setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
      setenv("XDG_DATA_DIRS", (DebRoot() + "/usr/share:/usr/share").c_str(), 1);
      setenv("XDG_CURRENT_DESKTOP", "MATE", 1);
      // Settings in a file under HOME, read by every process of the session.
      setenv("GSETTINGS_BACKEND", "keyfile", 1);
      setenv("NO_AT_BRIDGE", "1", 1);
      unsetenv("WAYLAND_DISPLAY");
      unsetenv("XSCREENSAVER_WINDOW");
      unsetenv("DBUS_SESSION_BUS_ADDRESS");
      execlp("unshare", "unshare", "--mount", "--propagation", "private", "--", "bash",
             MATE_SESSION_SCRIPT, work.c_str(), "screensavers-lumetta", static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~MateSession() {
    if (m_pid <= 0) return;
    std::ofstream(m_work / "stop").put('\n');
    const auto end = Clock::now() + kStopLimit;
    while (waitpid(m_pid, nullptr, WNOHANG) == 0 && Clock::now() < end)
      std::this_thread::sleep_for(50ms);
    kill(-m_pid, SIGKILL);
    waitpid(m_pid, nullptr, WNOHANG);
  }
  std::string output() const { return ReadFile(m_work / "session.log"); }
  bool waitForOutput(const std::string& line, std::chrono::seconds limit) const {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
      if (output().find(line + "\n") != std::string::npos) return true;
      if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) return false;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }
  void deactivate() { std::ofstream(m_work / "deactivate").put('\n'); }

 private:
  fs::path m_work;
  pid_t m_pid = -1;
};

// MATE's theme runs a fixed command line: the user names the package in
// lumetta's settings file. A second package, whose program looks like the
// demo's preview, named there by its vello.dat, is what the screen shows.
TEST(MateScreensaver, RunsTheInstalledLumettaOnThePackageOfTheSettingsFile) {
  XvfbServer server;
  ASSERT_FALSE(server.display().empty()) << server.why();
  const Scratch scratch;
  const fs::path& work = scratch.path;
  const std::string png = (work / "screen.png").string();
  const std::string lumetta = DebRoot() + "/usr/bin/lumetta";
  const fs::path second = work / "second";
  ASSERT_TRUE(MakePackageFolder(second, {FormContent{MakeDemoSwf(kDemoPreview), {}, {}}}));
  fs::create_directories(work / "home/.config/lumetta");
  std::ofstream(work / "home/.config/lumetta/lumetta.conf")
      << "# set by the test\nresources = " << (second / "vello.dat").string() << "\n";

  Display* display = XOpenDisplay(server.display().c_str());
  ASSERT_NE(display, nullptr);
  const Screen* screen = DefaultScreenOfDisplay(display);
  const int width = WidthOfScreen(screen), height = HeightOfScreen(screen);

  MateSession session(work, server.display());
  if (!session.waitForOutput("screensaver active", 60s)) {
    // Without the right to mount (a container without CAP_SYS_ADMIN, or
    // not root) the daemon cannot be shown the package's hack.
    if (session.output().find("no private mount") != std::string::npos)
      GTEST_SKIP() << session.output();
    FAIL() << session.output() << ReadFile(work / "daemon.log");
  }
  DemoShown seen;
  const double seconds =
      WaitForDemo(display, DefaultRootWindow(display), kDemoPreview, kPlayLimit, seen, nullptr, 100ms);
  const std::string daemonLog = ReadFile(work / "daemon.log");
  ASSERT_GE(seconds, 0) << "no program of the second package on the screen: " << seen.describe()
                        << "; the daemon:\n" << daemonLog;
  std::cout << "first frame on the screen " << seconds << " s after activation\n";
  const Pixels screenshot = WindowPixels(display, DefaultRootWindow(display));
  ASSERT_TRUE(screenshot.pixbuf != nullptr &&
              gdk_pixbuf_save(screenshot.pixbuf, png.c_str(), "png", nullptr, nullptr));
  ExpectDemoProgram(png, width, height, kDemoPreview);
  // It ran the theme's command line as the package has it.
  EXPECT_NE(daemonLog.find("Setting command for job: '/usr/libexec/xscreensaver/lumetta --root'"),
            std::string::npos)
      << daemonLog;
  std::vector<pid_t> lumettas;
  for (pid_t pid : SaverProcesses(server.display(), lumetta))
    if (Runs(pid, lumetta)) lumettas.push_back(pid);
  EXPECT_EQ(lumettas.size(), 1u);
  // The second package holds a main program only.
  const std::vector<ExtractedProgram> extracted = ProgramsOpenedBy(lumettas);
  EXPECT_EQ(extracted.size(), 1u) << "the one extracted program while it plays";
  const auto anyLeft = [&] { return std::any_of(extracted.begin(), extracted.end(), StillNamed); };

  session.deactivate();
  ASSERT_TRUE(session.waitForOutput("screensaver inactive", kStopLimit)) << session.output();
  const auto deactivated = Clock::now();
  while (Clock::now() < deactivated + kStopLimit &&
         (!SaverProcesses(server.display(), lumetta).empty() || anyLeft()))
    std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(SaverProcesses(server.display(), lumetta).empty()) << "lumetta or its web engine still runs";
  EXPECT_FALSE(anyLeft()) << "extracted programs left behind";
  std::cout << "gone " << std::chrono::duration<double>(Clock::now() - deactivated).count()
            << " s after deactivation\n";
  XCloseDisplay(display);
}

}  // namespace
