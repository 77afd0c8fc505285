// lumetta under the real XScreenSaver daemon, installed as the README says
// and named in a programs: line: the daemon starts it with its own options
// when it blanks the screen and stops it when it unblanks; and the settings
// dialog's preview, lumetta in a small window given by --window-id 0x...

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "demo/DemoSwf.h"
#include "tests/lumetta/DemoPixels_test.h"
#include "tests/lumetta/LumettaProcess_test.h"

// Last: its macros clash with names inside GoogleTest.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// Generous: the machine may be busy building (the daemon's hack then starts
// behind everything else). The time to the first frame is printed, not
// judged.
constexpr auto kPlayLimit = 180s;
constexpr auto kStopLimit = 20s;

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path ? path : "/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':'))
    if (access((folder + "/" + program).c_str(), X_OK) == 0) return true;
  return false;
}

// Runs a program to its end with the environment changes given, its output
// into outputFile (or nowhere); its exit status, or -1. What it makes is
// readable by everyone, whatever the umask.
int RunToEnd(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
        const std::string& outputFile = "/dev/null") {
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    umask(022);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Hex(unsigned long id) {
  std::ostringstream out;
  out << "0x" << std::hex << id;
  return out.str();
}

// The process's parent and state from /proc; false once it is gone.
bool ProcessStat(pid_t pid, pid_t& parent, char& state) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream fields(stat.substr(close + 2));
  return static_cast<bool>(fields >> state >> parent);
}

bool Alive(pid_t pid) {
  pid_t parent = 0;
  char state = 0;
  return ProcessStat(pid, parent, state) && state != 'Z' && state != 'X';
}

// Every process below root, with the name of its program.
std::map<pid_t, std::string> Descendants(pid_t root) {
  std::map<pid_t, pid_t> parents;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    pid_t parent = 0;
    char state = 0;
    if (ProcessStat(std::stoi(name), parent, state) && state != 'Z') parents[std::stoi(name)] = parent;
  }
  std::map<pid_t, std::string> found;
  for (bool grew = true; grew;) {
    grew = false;
    for (const auto& [pid, parent] : parents) {
      if (found.count(pid) == 0 && (parent == root || found.count(parent) != 0)) {
        std::string command = ReadFile("/proc/" + std::to_string(pid) + "/cmdline");
        found[pid] = command.substr(0, command.find('\0'));
        grew = true;
      }
    }
  }
  return found;
}

// How much of an image shows a program of the demo: pixels of its
// background and of its square; and the pixels that are neither, yet
// brighter than a dark screen (any channel above 24).
struct DemoPixels {
  size_t background = 0;
  size_t square = 0;
  size_t bright = 0;
  Rgb brightest{0, 0, 0};
  size_t all = 0;
};

constexpr int kDarkChannel = 24;

DemoPixels CountDemoPixels(Display* display, Window window, const DemoSwfStyle& style) {
  DemoPixels seen;
  XWindowAttributes attributes = {};
  if (!XGetWindowAttributes(display, window, &attributes)) return seen;
  XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                            static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
  if (image == nullptr) return seen;
  seen.all = static_cast<size_t>(attributes.width) * static_cast<size_t>(attributes.height);
  for (int y = 0; y < attributes.height; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(image->data + y * image->bytes_per_line);
    for (int x = 0; x < attributes.width; ++x) {
      // 24-bit TrueColor in 32-bit pixels, read directly: a whole screen
      // a few times a second through XGetPixel costs the player CPU.
      const unsigned long pixel = image->bits_per_pixel == 32 ? row[x] : XGetPixel(image, x, y);
      const Rgb colour{static_cast<unsigned char>(pixel >> 16),
                       static_cast<unsigned char>(pixel >> 8), static_cast<unsigned char>(pixel)};
      const bool background = Near(style.background, colour);
      const bool square = Near(style.square, colour);
      seen.background += background;
      seen.square += square;
      const int channel = std::max({colour.red, colour.green, colour.blue});
      if (!background && !square && channel > kDarkChannel) {
        if (channel > std::max({seen.brightest.red, seen.brightest.green, seen.brightest.blue}))
          seen.brightest = colour;
        ++seen.bright;
      }
    }
  }
  XDestroyImage(image);
  return seen;
}

// The program shows when its background covers most of the window (the
// stage is letterboxed) and its square is there whole.
bool ShowsDemo(const DemoPixels& seen, int width, int height) {
  const double scale = std::min(width / double(kDemoStageWidth), height / double(kDemoStageHeight));
  const double square = kDemoSquareSize * scale * kDemoSquareSize * scale;
  const double stage = kDemoStageWidth * scale * kDemoStageHeight * scale;
  return seen.background > (stage - square) * 0.9 && seen.square > square * 0.8 &&
         seen.square < square * 1.2;
}

std::string Describe(const DemoPixels& seen) {
  return std::to_string(seen.background) + " background and " + std::to_string(seen.square) +
         " square pixels of " + std::to_string(seen.all);
}

// Waits until the window shows the program; the seconds that took, or -1.
// Each picture before that is added to lit when it holds a bright pixel.
double WaitForDemo(Display* display, Window window, const DemoSwfStyle& style, DemoPixels& seen,
                   std::vector<std::string>* lit = nullptr) {
  XWindowAttributes attributes = {};
  if (!XGetWindowAttributes(display, window, &attributes)) return -1;
  const auto start = Clock::now();
  while (Clock::now() - start < kPlayLimit) {
    seen = CountDemoPixels(display, window, style);
    const double now = std::chrono::duration<double>(Clock::now() - start).count();
    if (ShowsDemo(seen, attributes.width, attributes.height)) return now;
    // Once the stage shows, what is lit is the program's own drawing.
    if (lit != nullptr && seen.bright > 0 && seen.background == 0)
      lit->push_back(std::to_string(now) + " s: " + std::to_string(seen.bright) +
                     " bright pixels, the brightest " + Describe(seen.brightest));
    std::this_thread::sleep_for(200ms);
  }
  return -1;
}

// One scratch folder for the suite: lumetta installed into prefix/ as a
// person would, and copies of the sanitizers' suppression files, all
// readable by the user the daemon runs as.
class XScreenSaverTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_why.clear();
    if (!OnPath("xscreensaver") || !OnPath("xscreensaver-command")) {
      s_why = "XScreenSaver is not installed (scripts/install-deps.sh installs xscreensaver)";
      return;
    }
    // XScreenSaver starts no hack as root: as root, the daemon runs as nobody.
    if (geteuid() == 0) {
      const passwd* nobody = getpwnam("nobody");
      if (nobody == nullptr) {
        s_why = "running as root, and there is no user nobody to run the daemon as";
        return;
      }
      s_uid = nobody->pw_uid;
      s_gid = nobody->pw_gid;
    } else {
      s_uid = getuid();
      s_gid = getgid();
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
      if (RunToEnd({LUMETTA_CMAKE_COMMAND, "--install", VELLO_BINARY_DIR, "--prefix",
                    (s_folder / "prefix").string()},
                   {}, log.string()) != 0) {
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
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    m_home = s_folder / ("home-" + name);
    m_temp = s_folder / ("tmp-" + name);
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

  static fs::path Lumetta() { return s_lumetta; }

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
                                            << Lumetta().string() << " --root\n";
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
    return RunToEnd({"xscreensaver-command", option}, {{"DISPLAY", s_server->display()}});
  }

  std::string DaemonLog() const { return ReadFile(m_home / "xscreensaver.log"); }

  std::vector<std::string> LeftFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_temp)) names.push_back(entry.path().filename());
    return names;
  }

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

  DemoPixels seen;
  std::vector<std::string> lit;
  const double firstFrame =
      WaitForDemo(m_display, DefaultRootWindow(m_display), kDemoMain, seen, &lit);
  ASSERT_GE(firstFrame, 0) << "the screen never showed the demo: " << Describe(seen) << "\n"
                           << DaemonLog();
  EXPECT_EQ(lit, std::vector<std::string>{}) << "the screen lit up before the demo's first frame\n" << DaemonLog();
  std::cout << "seconds from -activate to the demo on the screen: " << firstFrame << "\n";
  RecordProperty("seconds_to_first_frame", std::to_string(firstFrame));

  std::map<pid_t, std::string> lumetta;
  for (const auto& [pid, program] : Descendants(m_daemon)) {
    if (program != Lumetta().string()) continue;
    lumetta = Descendants(pid);
    lumetta[pid] = program;
  }
  ASSERT_FALSE(lumetta.empty()) << "no lumetta below the daemon:\n" << DaemonLog();
  size_t engines = 0;
  for (const auto& [pid, program] : lumetta) engines += program.find("WebKit") != std::string::npos;
  EXPECT_GE(engines, 1u) << "no web engine process below lumetta";
  // Read through their descriptors once the player has them, the programs
  // keep no names while it plays.
  EXPECT_EQ(LeftFiles(), std::vector<std::string>{}) << "programs named while it plays";

  ASSERT_EQ(Command("-deactivate"), 0);
  const auto asked = Clock::now();
  std::set<pid_t> alive;
  do {
    alive.clear();
    for (const auto& [pid, program] : lumetta)
      if (Alive(pid)) alive.insert(pid);
    if (!alive.empty()) std::this_thread::sleep_for(50ms);
  } while (!alive.empty() && Clock::now() - asked < kStopLimit);
  const double gone = std::chrono::duration<double>(Clock::now() - asked).count();
  for (pid_t pid : alive) ADD_FAILURE() << "still running after -deactivate: " << lumetta[pid];
  std::cout << "seconds from -deactivate to lumetta and its web engine gone: " << gone << "\n";
  RecordProperty("seconds_to_gone", std::to_string(gone));
  EXPECT_EQ(LeftFiles(), std::vector<std::string>{}) << DaemonLog();
  EXPECT_NE(DaemonLog().find("deleted: " + m_temp.string() + "/ssftemp."), std::string::npos)
      << DaemonLog();
}

// The settings dialog (xscreensaver-settings 6.06, on a 1024x768 screen)
// previews a hack in a 565x317 window of its own, running the programs:
// line with "--window-id 0x..." added and the same id in
// XSCREENSAVER_WINDOW; lumetta finds its installed package and shows the
// preview program there.
TEST_F(XScreenSaverTest, SettingsPreviewShowsThePreviewProgram) {
  constexpr int kWidth = 565, kHeight = 317;
  const Window window = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, kWidth,
                                            kHeight, 0, 0, BlackPixel(m_display, 0));
  XMapWindow(m_display, window);
  XSync(m_display, False);
  LumettaProcess lumetta({"--root", "--window-id", Hex(window)}, s_server->display(), m_temp.string(),
                         (m_home / "lumetta.log").string(), Hex(window), Lumetta().string());
  DemoPixels seen;
  EXPECT_GE(WaitForDemo(m_display, window, kDemoPreview, seen), 0)
      << "the preview window never showed the preview program: " << Describe(seen) << "\n"
      << lumetta.output();
  EXPECT_NE(lumetta.output().find("showing the preview program in a 565x317 X window given to us"),
            std::string::npos)
      << lumetta.output();
  EXPECT_EQ(lumetta.stopWith(SIGTERM, kStopLimit), 0) << lumetta.output();
  EXPECT_EQ(LeftFiles(), std::vector<std::string>{}) << lumetta.output();
  XDestroyWindow(m_display, window);
}

}  // namespace
