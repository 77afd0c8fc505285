// lumetta on a real X display: it plays the demo package, and snapshots of
// its web view show the demo's colours where the demo program puts them.

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "demo/DemoSwf.h"
#include "saver/SaverTestSupport_test.h"
#include "tests/lumetta/DemoPixels_test.h"
#include "tests/lumetta/LumettaProcess_test.h"

// Last: its macros clash with names inside GoogleTest.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using namespace std::chrono_literals;

// Generous: the machine may be busy building.
constexpr auto kPlayLimit = 120s;
constexpr auto kStopLimit = 20s;

class LumettaWindowTest : public XvfbTest {
 protected:
  void SetUp() override {
    XvfbTest::SetUp();
    if (IsSkipped()) return;
    const std::string name = TestName();
    std::filesystem::create_directories(LUMETTA_SNAPSHOT_DIR);
    m_snapshot = std::string(LUMETTA_SNAPSHOT_DIR) + "/" + name + ".png";
    m_output = std::string(LUMETTA_SNAPSHOT_DIR) + "/" + name + ".log";
    m_temp = FreshTestFolder("lumetta-");
  }
  void TearDown() override { std::filesystem::remove_all(m_temp); }

  std::unique_ptr<LumettaProcess> Start(std::vector<std::string> args,
                                        const std::string& screensaverWindow = "") {
    // Left from an earlier run, they would be taken for this run's.
    std::filesystem::remove(m_snapshot);
    std::filesystem::remove(m_output);
    args.insert(args.end(), {"--resources", LUMETTA_DEMO_RESOURCES, "--snapshot", m_snapshot,
                             "--seconds", "300"});
    return std::make_unique<LumettaProcess>(args, s_server->display(), m_temp.string(), m_output,
                                            screensaverWindow);
  }

  // Plays until the snapshot is saved, then stops it with SIGTERM; the
  // extracted programs must be gone afterwards.
  void PlayAndStop(LumettaProcess& lumetta, const std::string& program) {
    ASSERT_TRUE(lumetta.waitForOutput("snapshot: ", kPlayLimit)) << lumetta.output();
    EXPECT_NE(lumetta.output().find("page: loaded "), std::string::npos)
        << "the player did not report the program loaded:\n" << lumetta.output();
    EXPECT_NE(lumetta.output().find("/" + program + "."), std::string::npos) << lumetta.output();
    // Read through their descriptors, the programs need no names while it
    // plays: a process killed outright leaves nothing.
    ASSERT_EQ(FileCount(), 0u) << "the programs' names are still there while it plays";
    EXPECT_EQ(lumetta.stopWith(SIGTERM, kStopLimit), 0) << lumetta.output();
    EXPECT_NE(lumetta.output().find("deleted: "), std::string::npos) << lumetta.output();
  }

  // The extracted programs' files in the temporary folder (which is also
  // where the toolkit keeps its settings for the test).
  size_t FileCount() const {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(m_temp)) {
      const std::string name = entry.path().filename().string();
      count += name.size() == 14 && name.rfind("ss", 0) == 0 && name.substr(3, 5) == "temp.";
    }
    return count;
  }

  std::string m_snapshot;
  std::string m_output;
  std::filesystem::path m_temp;
};

namespace {

// The text of /proc/PID/NAME ('\0' separators and all).
std::string ProcFile(pid_t pid, const char* name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + name);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The direct children of a process.
std::vector<pid_t> ChildrenOf(pid_t pid) {
  std::vector<pid_t> children;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
    std::ifstream in(task.path() / "children");
    for (pid_t child; in >> child;) children.push_back(child);
  }
  return children;
}

// With no window manager, a top-level window is a child of the root
// window; the mapped one with that name, or 0.
Window FindMappedWindow(Display* display, const std::string& title) {
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  Window found = 0;
  if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) return 0;
  for (unsigned i = 0; i < count && found == 0; ++i) {
    XWindowAttributes attributes = {};
    char* name = nullptr;
    if (XGetWindowAttributes(display, children[i], &attributes) &&
        attributes.map_state == IsViewable && XFetchName(display, children[i], &name) &&
        name != nullptr && title == name)
      found = children[i];
    if (name != nullptr) XFree(name);
  }
  if (children != nullptr) XFree(children);
  return found;
}

// A pixel of an image of this display's 24-bit TrueColor visual.
Rgb PixelAt(XImage* image, int x, int y) {
  const unsigned long pixel = XGetPixel(image, x, y);
  return Rgb{static_cast<unsigned char>(pixel >> 16), static_cast<unsigned char>(pixel >> 8),
             static_cast<unsigned char>(pixel)};
}

}  // namespace

// Until the player's first frame, the window shows nothing brighter than
// a dark screen (any channel above 24).
TEST_F(LumettaWindowTest, PlaysTheDemoInAWindow) {
  Display* display = XOpenDisplay(s_server->display().c_str());
  ASSERT_NE(display, nullptr);
  auto lumetta = Start({"--platform", "gtk", "--window-size", "550x400"});
  std::vector<std::string> lit;
  for (const auto end = std::chrono::steady_clock::now() + kPlayLimit;
       lumetta->output().find("first frame drawn") == std::string::npos &&
       std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
    const Window window = FindMappedWindow(display, "lumetta");
    XImage* image = window == 0 ? nullptr
                                : XGetImage(display, window, 0, 0, 550, 400, AllPlanes, ZPixmap);
    if (image == nullptr) continue;
    // Once the stage shows, what is lit is the program's own drawing.
    size_t bright = 0, stage = 0;
    Rgb seen{};
    for (int y = 0; y < 400; y += 2) {
      for (int x = 0; x < 550; x += 2) {
        const Rgb c = PixelAt(image, x, y);
        stage += Near(c, kDemoMain.background);
        if (std::max({c.red, c.green, c.blue}) > 24) {
          ++bright;
          seen = c;
        }
      }
    }
    XDestroyImage(image);
    if (stage > 0) break;
    if (bright > 0) lit.push_back(std::to_string(bright) + " bright pixels, one " + Describe(seen));
  }
  XCloseDisplay(display);
  EXPECT_EQ(lit, std::vector<std::string>{}) << "the window lit up before the first frame";
  ASSERT_TRUE(lumetta->waitForOutput("snapshot: ", kPlayLimit)) << lumetta->output();
  // The canvas player needs no OpenGL in lumetta itself: the toolkit did not
  // set up the display's (a vendor's libGLX_*), which costs start-up time.
  EXPECT_EQ(ProcFile(lumetta->pid(), "maps").find("/libGLX_"), std::string::npos);
  // The player's compiler has every core.
  const std::string threads =
      "JSC_numberOfWasmCompilerThreads=" + std::to_string(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
  int webProcesses = 0;
  for (pid_t child : ChildrenOf(lumetta->pid())) {
    if (ProcFile(child, "comm").rfind("WebKitWebProces", 0) != 0) continue;
    ++webProcesses;
    const std::string environment = '\0' + ProcFile(child, "environ");
    EXPECT_NE(environment.find(std::string(1, '\0') + threads + '\0'), std::string::npos)
        << "web process " << child;
  }
  EXPECT_EQ(webProcesses, 1);
  PlayAndStop(*lumetta, "ssftemp");
  ExpectDemoProgram(m_snapshot, 550, 400, kDemoMain);
  EXPECT_NE(lumetta->output().find("page: volume 0 ("), std::string::npos)
      << "a screen saver is muted unless asked:\n" << lumetta->output();
  // Its own lines only: no renderer line without --verbose, nothing of the
  // toolkit's or the web engine's.
  for (const char* noise : {"player: ", "Overriding existing handler", "Disabled hardware acceleration"})
    EXPECT_EQ(lumetta->output().find(noise), std::string::npos) << noise << "\n" << lumetta->output();
}

TEST_F(LumettaWindowTest, SoundIsOnOnlyWhenAskedFor) {
  auto lumetta = Start({"--platform", "gtk", "--window-size", "320x240", "--sound"});
  ASSERT_TRUE(lumetta->waitForOutput("page: volume ", kPlayLimit)) << lumetta->output();
  EXPECT_NE(lumetta->output().find("page: volume 1 ("), std::string::npos) << lumetta->output();
  EXPECT_EQ(lumetta->stopWith(SIGTERM, kStopLimit), 0) << lumetta->output();
}

TEST_F(LumettaWindowTest, PreviewShowsThePreviewProgramIn200By150) {
  auto lumetta = Start({"--platform", "gtk", "--preview"});
  PlayAndStop(*lumetta, "ssptemp");
  ExpectDemoProgram(m_snapshot, 200, 150, kDemoPreview);
}

TEST_F(LumettaWindowTest, SaysWhyAPackageCannotBeShownAndStops) {
  const std::string folder = (m_temp / "no-package-here").string();
  LumettaProcess lumetta({"--platform", "gtk", "--resources", folder}, s_server->display(),
                         m_temp.string(), m_output);
  EXPECT_EQ(lumetta.waitForExit(kStopLimit), 1) << lumetta.output();
  EXPECT_NE(lumetta.output().find("lumetta: the package " + folder + "/vello.dat was not found"),
            std::string::npos)
      << lumetta.output();
  EXPECT_EQ(lumetta.output().find("showing"), std::string::npos) << lumetta.output();
}

// XScreenSaver's way: a window made by someone else, given by its id on
// the command line or in the environment. One the size of the screen is
// the daemon's; a smaller one a settings dialog's preview: Debian 12's MATE
// preferences give 480x300 in the environment with the theme's "--root".
TEST_F(LumettaWindowTest, DrawsInsideXScreenSaverWindows) {
  Display* display = XOpenDisplay(s_server->display().c_str());
  ASSERT_NE(display, nullptr);
  struct Case {
    int width, height;
    bool byEnvironment;
    const DemoSwfStyle& style;
    const char* file;
  };
  const Screen* screen = DefaultScreenOfDisplay(display);
  for (const Case& c : {Case{WidthOfScreen(screen), HeightOfScreen(screen), false, kDemoMain, "ssftemp"},
                        Case{480, 300, true, kDemoPreview, "ssptemp"}}) {
    const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
    SCOPED_TRACE(size);
    m_snapshot = std::string(LUMETTA_SNAPSHOT_DIR) + "/XScreenSaverWindow-" + size + ".png";
    m_output = std::string(LUMETTA_SNAPSHOT_DIR) + "/XScreenSaverWindow-" + size + ".log";
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, c.width,
                                              c.height, 0, 0, WhitePixel(display, DefaultScreen(display)));
    XMapWindow(display, window);
    XSync(display, False);

    auto lumetta = c.byEnvironment ? Start({"-root"}, std::to_string(window))
                                   : Start({"-window-id", std::to_string(window)});
    PlayAndStop(*lumetta, c.file);
    EXPECT_NE(lumetta->output().find(size + " X window given to us"), std::string::npos)
        << lumetta->output();
    ExpectDemoProgram(m_snapshot, c.width, c.height, c.style);

    XDestroyWindow(display, window);
    XSync(display, False);
  }
  XCloseDisplay(display);
}

// A locked or blanked screen puts a window over everything, or takes the
// saver's window away; either way the player stops until it shows again.
TEST_F(LumettaWindowTest, PausesWhileCoveredOrUnmappedAndPlaysAgain) {
  Display* display = XOpenDisplay(s_server->display().c_str());
  ASSERT_NE(display, nullptr);
  auto lumetta = Start({"--platform", "gtk", "--window-size", "320x240"});
  ASSERT_TRUE(lumetta->waitForOutput("snapshot: ", kPlayLimit)) << lumetta->output();
  const Window window = FindMappedWindow(display, "lumetta");
  ASSERT_NE(window, 0u) << "no mapped window named lumetta";
  EXPECT_EQ(lumetta->count("page: paused"), 0u) << lumetta->output();

  // Covered: a window over the whole screen, as a locker puts up.
  XSetWindowAttributes attributes = {};
  attributes.override_redirect = True;
  const Screen* screen = DefaultScreenOfDisplay(display);
  const Window cover = XCreateWindow(display, DefaultRootWindow(display), 0, 0,
                                     static_cast<unsigned>(WidthOfScreen(screen)),
                                     static_cast<unsigned>(HeightOfScreen(screen)), 0,
                                     CopyFromParent, InputOutput, CopyFromParent,
                                     CWOverrideRedirect, &attributes);
  // After each change the page says what its players did, for the n-th time.
  const auto expectPage = [&](const char* state, size_t times) {
    XSync(display, False);
    EXPECT_TRUE(lumetta->waitForOutput(std::string("page: ") + state + " (", kStopLimit, times))
        << lumetta->output();
  };
  XMapRaised(display, cover);
  expectPage("paused", 1);
  XDestroyWindow(display, cover);
  expectPage("playing", 1);

  // Unmapped, then shown again.
  XUnmapWindow(display, window);
  expectPage("paused", 2);
  XMapWindow(display, window);
  expectPage("playing", 2);

  EXPECT_EQ(lumetta->count("stuck"), 0u) << "a player did not follow:\n" << lumetta->output();
  EXPECT_EQ(lumetta->stopWith(SIGTERM, kStopLimit), 0) << lumetta->output();
  XCloseDisplay(display);
}


// XScreenSaver resizes its window when the screen changes size; the view
// must follow and lay the program out in the new area.
TEST_F(LumettaWindowTest, FollowsTheXScreenSaverWindowsSize) {
  Display* display = XOpenDisplay(s_server->display().c_str());
  ASSERT_NE(display, nullptr);
  const Screen* screen = DefaultScreenOfDisplay(display);
  const Window window = XCreateSimpleWindow(
      display, DefaultRootWindow(display), 0, 0, static_cast<unsigned>(WidthOfScreen(screen)),
      static_cast<unsigned>(HeightOfScreen(screen)), 0, 0, WhitePixel(display, DefaultScreen(display)));
  XMapWindow(display, window);
  XSync(display, False);
  auto lumetta = Start({"-window-id", std::to_string(window)});
  ASSERT_TRUE(lumetta->waitForOutput("snapshot: ", kPlayLimit)) << lumetta->output();

  constexpr int kWidth = 640, kHeight = 480;
  XResizeWindow(display, window, kWidth, kHeight);
  XSync(display, False);
  // Just below the new stage, in its letterbox: the old, larger stage's
  // background until the view has followed; and the new stage's corner.
  const Stage stage(kWidth, kHeight);
  const int belowX = kWidth / 2, belowY = stage.y(kDemoStageHeight) + 2;
  const int cornerX = stage.x(540), cornerY = stage.y(390);
  ASSERT_LT(belowY, kHeight);
  Rgb below{}, corner{};
  const auto end = std::chrono::steady_clock::now() + kStopLimit;
  while (std::chrono::steady_clock::now() < end) {
    if (XImage* image = XGetImage(display, window, 0, 0, kWidth, kHeight, AllPlanes, ZPixmap)) {
      below = PixelAt(image, belowX, belowY);
      corner = PixelAt(image, cornerX, cornerY);
      XDestroyImage(image);
      if (!Near(below, kDemoMain.background) && Near(corner, kDemoMain.background)) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_FALSE(Near(below, kDemoMain.background))
      << "at (" << belowX << "," << belowY << "), below the stage: " << Describe(below);
  EXPECT_TRUE(Near(corner, kDemoMain.background))
      << "at (" << cornerX << "," << cornerY << ") of the resized window: " << Describe(corner);
  EXPECT_EQ(lumetta->stopWith(SIGTERM, kStopLimit), 0) << lumetta->output();
  XDestroyWindow(display, window);
  XCloseDisplay(display);
}

// A form without a settings program: the sheet says so, in light text on
// its black, rather than staying blank (or white).
TEST_F(LumettaWindowTest, ConfigurationSheetSaysWhenThereIsNoSettingsProgram) {
  Display* display = XOpenDisplay(s_server->display().c_str());
  ASSERT_NE(display, nullptr);
  const std::filesystem::path package = m_temp.string() + "-package";
  std::filesystem::create_directories(package);
  FormContent form;
  form.main = MakeDemoSwf(kDemoMain);
  form.preview = MakeDemoSwf(kDemoPreview);
  ASSERT_TRUE(SavePackage(package.string(), {form}));
  std::filesystem::remove(m_output);  // an earlier run's would be read as this one's
  LumettaProcess lumetta({"--platform", "gtk", "--configure", "--window-size", "320x240",
                          "--resources", package.string(), "--seconds", "300"},
                         s_server->display(), m_temp.string(), m_output);
  ASSERT_TRUE(lumetta.waitForOutput("page: loaded ", kPlayLimit)) << lumetta.output();
  Window sheet = 0;
  for (const auto end = std::chrono::steady_clock::now() + kStopLimit;
       sheet == 0 && std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(std::chrono::milliseconds(100)))
    sheet = FindMappedWindow(display, "lumetta settings");
  ASSERT_NE(sheet, 0u) << "no mapped window named \"lumetta settings\"";

  // Above the button row: some pixels of the text, and nothing else lit.
  size_t text = 0, lit = 0, all = 0;
  const auto end = std::chrono::steady_clock::now() + kStopLimit;
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    XWindowAttributes attributes = {};
    ASSERT_TRUE(XGetWindowAttributes(display, sheet, &attributes));
    const int height = attributes.height - 80;
    ASSERT_GT(height, 100);
    XImage* image = XGetImage(display, sheet, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    text = lit = 0;
    all = static_cast<size_t>(attributes.width) * static_cast<size_t>(height);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < attributes.width; ++x) {
        const Rgb c = PixelAt(image, x, y);
        text += Near(c, Rgb{0xdd, 0xdd, 0xdd});
        lit += std::max({c.red, c.green, c.blue}) > 24;
      }
    }
    XDestroyImage(image);
  } while (text < 50 && std::chrono::steady_clock::now() < end);
  EXPECT_GE(text, 50u) << "pixels of the notice's text";
  EXPECT_LT(lit, all / 10) << "lit pixels of " << all;
  EXPECT_EQ(lumetta.output().find("lumetta: the player cannot show"), std::string::npos)
      << lumetta.output();
  EXPECT_EQ(lumetta.stopWith(SIGTERM, kStopLimit), 0) << lumetta.output();
  std::filesystem::remove_all(package);
  XCloseDisplay(display);
}

// The configuration sheet is a window of its own that plays the settings
// program: its background over most of the sheet and its square, whole,
// in the middle; nothing of the main program.
TEST_F(LumettaWindowTest, ConfigurationSheetPlaysTheSettingsProgram) {
  Display* display = XOpenDisplay(s_server->display().c_str());
  ASSERT_NE(display, nullptr);
  // As a person runs it: the window of the default size beside the sheet.
  auto lumetta = Start({"--platform", "gtk", "--configure"});
  // Both views report their program loaded, the sheet's the settings one.
  ASSERT_TRUE(lumetta->waitForOutput("page: loaded ", kPlayLimit, 2)) << lumetta->output();
  ASSERT_NE(lumetta->output().find("page: loaded file://" + m_temp.string() + "/ssstemp."),
            std::string::npos)
      << lumetta->output();
  const Window sheet = FindMappedWindow(display, "lumetta settings");
  ASSERT_NE(sheet, 0u) << "no mapped window named \"lumetta settings\"";

  size_t background = 0, square = 0, main = 0, all = 0;
  const auto end = std::chrono::steady_clock::now() + kStopLimit;
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    XWindowAttributes attributes = {};
    ASSERT_TRUE(XGetWindowAttributes(display, sheet, &attributes));
    XImage* image = XGetImage(display, sheet, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    background = square = main = 0;
    all = static_cast<size_t>(attributes.width) * static_cast<size_t>(attributes.height);
    for (int y = 0; y < attributes.height; ++y) {
      for (int x = 0; x < attributes.width; ++x) {
        const Rgb c = PixelAt(image, x, y);
        background += Near(c, kDemoSettings.background);
        square += Near(c, kDemoSettings.square);
        main += Near(c, kDemoMain.background) || Near(c, kDemoMain.square);
      }
    }
    XDestroyImage(image);
  } while (square == 0 && std::chrono::steady_clock::now() < end);

  // The stage fills the web view above the OK button, nearly at scale 1.
  const double side = kDemoSquareSize;
  EXPECT_GT(background, all / 2) << "settings background pixels of " << all;
  EXPECT_GT(square, side * side * 0.8) << "settings square pixels";
  EXPECT_LT(square, side * side * 1.1) << "settings square pixels";
  EXPECT_EQ(main, 0u) << "the main program's colours in the sheet";
  EXPECT_EQ(lumetta->stopWith(SIGTERM, kStopLimit), 0) << lumetta->output();
  XCloseDisplay(display);
}

// The demo's main program with first-frame actions that ask the player to
// load each URL into a level of its own, then stop on that frame.
Bytes DemoLoadingFromURLs(const std::vector<std::string>& urls) {
  Bytes swf = MakeDemoSwf(kDemoMain);
  // Header: signature, version, length, stage rectangle, rate and count;
  // the first tag (FileAttributes, 6 bytes) must stay first.
  const size_t rectBits = 5 + 4 * (swf[8] >> 3);
  const size_t firstTag = 8 + (rectBits + 7) / 8 + 4;
  Bytes actions;
  for (size_t i = 0; i < urls.size(); ++i) {
    const std::string target = "_level" + std::to_string(i + 1);
    const size_t length = urls[i].size() + 1 + target.size() + 1;
    // GetURL: URL and target, each ending in NUL.
    actions.insert(actions.end(), {0x83, static_cast<unsigned char>(length),
                                   static_cast<unsigned char>(length >> 8)});
    for (const std::string& text : {urls[i], target}) {
      actions.insert(actions.end(), text.begin(), text.end());
      actions.push_back(0);
    }
  }
  actions.insert(actions.end(), {0x07, 0x00});  // Stop, end of actions
  Bytes tag = {0x3f, 0x03};  // DoAction (12) with a long length
  for (int i = 0; i < 4; ++i) tag.push_back(static_cast<unsigned char>(actions.size() >> (8 * i)));
  tag.insert(tag.end(), actions.begin(), actions.end());
  swf.insert(swf.begin() + static_cast<long>(firstTag + 6), tag.begin(), tag.end());
  for (int i = 0; i < 4; ++i) swf[4 + i] = static_cast<unsigned char>(swf.size() >> (8 * i));
  return swf;
}

// A program may ask the special scheme for anything; each refusal is said
// once, and the player goes on playing the program.
TEST_F(LumettaWindowTest, KeepsPlayingWhenTheSchemeRefusesARequest) {
  const std::vector<std::string> refused = {"special:///nope.swf", "special:///ruffle/../x.js"};
  const std::filesystem::path resources = m_temp / "resources";
  const std::filesystem::path temp = m_temp / "tmp";
  std::filesystem::create_directories(resources);
  std::filesystem::create_directories(temp);
  ASSERT_TRUE(SavePackage(resources.string(), {FormContent{DemoLoadingFromURLs(refused), {}, {}}}));
  std::filesystem::remove(resources / "source.swf");
  std::filesystem::remove(m_snapshot);
  std::filesystem::remove(m_output);
  LumettaProcess lumetta({"--platform", "gtk", "--window-size", "320x240", "--resources",
                          resources.string(), "--snapshot", m_snapshot, "--seconds", "300"},
                         s_server->display(), temp.string(), m_output);
  ASSERT_TRUE(lumetta.waitForOutput("refused special:", kPlayLimit, refused.size())) << lumetta.output();
  ASSERT_TRUE(lumetta.waitForOutput("snapshot: ", kPlayLimit)) << lumetta.output();
  EXPECT_EQ(lumetta.count("refused special:"), refused.size()) << lumetta.output();
  EXPECT_EQ(lumetta.stopWith(SIGTERM, kStopLimit), 0) << lumetta.output();
  EXPECT_EQ(::FileCount(temp.string()), 0u) << "programs left behind:\n" << lumetta.output();
}

// A program the player loads but cannot run shows nothing but its
// background: the person is told so once, with the player's own error.
// The demo, which draws, is not reported however long it plays.
TEST_F(LumettaWindowTest, AProgramThatShowsNothingIsReportedWithThePlayersError) {
  const std::filesystem::path resources = m_temp / "resources";
  const std::filesystem::path temp = m_temp / "tmp";
  std::filesystem::create_directories(resources);
  std::filesystem::create_directories(temp);
  ASSERT_TRUE(SavePackage(resources.string(),
                          {FormContent{MakeCorruptCodeSwf(kDemoMain.background), {}, {}}}));
  std::filesystem::remove(resources / "source.swf");
  const std::string said = "lumetta: the player shows nothing of the program: ";
  {
    LumettaProcess lumetta({"--platform", "gtk", "--window-size", "320x240", "--resources",
                            resources.string(), "--seconds", "300"},
                           s_server->display(), temp.string(), m_output);
    ASSERT_TRUE(lumetta.waitForOutput(said, kPlayLimit)) << lumetta.output();
    EXPECT_EQ(lumetta.stopWith(SIGTERM, kStopLimit), 1) << lumetta.output();
    EXPECT_EQ(lumetta.count(said + "Error loading AVM2 ABC: VerifyError: Error #1107: The ABC data "
                                   "is corrupt, attempt to read out of bounds.\n"),
              1u)
        << lumetta.output();
  }
  auto demo = Start({"--platform", "gtk", "--window-size", "320x240"});
  ASSERT_TRUE(demo->waitForOutput("snapshot: ", kPlayLimit)) << demo->output();
  std::this_thread::sleep_for(5s);
  EXPECT_EQ(demo->stopWith(SIGTERM, kStopLimit), 0) << demo->output();
  EXPECT_EQ(demo->count(said), 0u) << demo->output();
}

}  // namespace
