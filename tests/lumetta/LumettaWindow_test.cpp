// lumetta on a real X display: it plays the demo package, and snapshots of
// its web view show the demo's colours where the demo program puts them.

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "demo/DemoSwf.h"
#include "saver/SaverTestSupport_test.h"
#include "tests/lumetta/LumettaProcess_test.h"
#include "tests/lumetta/WindowPixels_test.h"  // last: Xlib

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
    Name(TestName());
    m_temp = FreshTestFolder("lumetta-");
    m_display = XOpenDisplay(s_server->display().c_str());
    ASSERT_NE(m_display, nullptr);
  }
  void TearDown() override {
    if (m_display != nullptr) XCloseDisplay(m_display);
    std::filesystem::remove_all(m_temp);
  }
  // The snapshot's and the output's file names.
  void Name(const std::string& name) {
    m_snapshot = SnapshotDir() + "/" + name + ".png";
    m_output = SnapshotDir() + "/" + name + ".log";
  }

  // lumetta on the demo package, saving a snapshot; the test's own
  // arguments come last and win.
  std::unique_ptr<LumettaProcess> Start(const std::vector<std::string>& args,
                                        const std::string& screensaverWindow = "") {
    // Left from an earlier run, they would be taken for this run's.
    std::filesystem::remove(m_snapshot);
    std::filesystem::remove(m_output);
    std::vector<std::string> all = {"--resources", LUMETTA_DEMO_RESOURCES, "--snapshot", m_snapshot,
                                    "--seconds", "300"};
    all.insert(all.end(), args.begin(), args.end());
    return std::make_unique<LumettaProcess>(all, s_server->display(), m_temp.string(), m_output,
                                            screensaverWindow);
  }

  // Plays until the snapshot is saved, the programs read and their names
  // gone, so a process killed outright would leave nothing.
  void Play(LumettaProcess& lumetta, const std::string& program) {
    ASSERT_TRUE(lumetta.waitForOutput("snapshot: ", kPlayLimit)) << lumetta.output();
    EXPECT_NE(lumetta.output().find("page: loaded "), std::string::npos)
        << "the player did not report the program loaded:\n" << lumetta.output();
    EXPECT_NE(lumetta.output().find("/" + program + "."), std::string::npos) << lumetta.output();
    ASSERT_EQ(ExtractedPrograms(m_temp), 0u) << "the programs' names are still there while it plays";
  }
  // Stops it with SIGTERM: it deletes the programs and exits 0.
  void Stop(LumettaProcess& lumetta) {
    EXPECT_EQ(lumetta.stopWith(SIGTERM, kStopLimit), 0) << lumetta.output();
    EXPECT_NE(lumetta.output().find("deleted: "), std::string::npos) << lumetta.output();
  }

  // lumetta's window of that title, once it is mapped; 0 if it never is.
  Window WaitForWindow(const std::string& title) {
    Window window = 0;
    for (const auto end = std::chrono::steady_clock::now() + kPlayLimit;
         window == 0 && std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(100ms))
      window = FindMappedWindow(m_display, title);
    return window;
  }

  std::string m_snapshot;
  std::string m_output;
  std::filesystem::path m_temp;
  Display* m_display = nullptr;
};

// The text of /proc/PID/NAME ('\0' separators and all).
std::string ProcFile(pid_t pid, const char* name) {
  return ReadFile("/proc/" + std::to_string(pid) + "/" + name);
}

// Until the player's first frame, the window shows nothing brighter than
// a dark screen, then the demo whole.
TEST_F(LumettaWindowTest, PlaysTheDemoInAWindow) {
  auto lumetta = Start({"--platform", "gtk", "--window-size", "550x400"});
  const Window window = WaitForWindow("lumetta");
  ASSERT_NE(window, 0u) << "no mapped window named lumetta";
  DemoShown seen;
  std::vector<std::string> lit;
  EXPECT_GE(WaitForDemo(m_display, window, kDemoMain, kPlayLimit, seen, &lit, 50ms), 0) << seen.describe();
  EXPECT_EQ(lit, std::vector<std::string>{}) << "the window lit up before the first frame";
  Play(*lumetta, "ssftemp");
  // The window itself keeps up with the program, not only the engine's
  // picture: the square is seen on the screen at several places of its row.
  std::set<int> squareAt;
  PictureWhen(m_display, window, [&](const Pixels& picture) {
    const ::Run run = RunOf(picture, Stage(550, 400).y(kDemoStageHeight / 2.0), kDemoMain.square);
    if (run.count > 0) squareAt.insert(run.first);
    return squareAt.size() >= 3;
  }, kStopLimit);
  EXPECT_GE(squareAt.size(), 3u) << "the square does not move on the screen";
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
  Stop(*lumetta);
  ExpectDemoProgram(m_snapshot, 550, 400, kDemoMain);
  EXPECT_NE(lumetta->output().find("page: volume 0 ("), std::string::npos)
      << "a screen saver is muted unless asked:\n" << lumetta->output();
  // Its own lines only: no renderer line without --verbose, nothing of the
  // toolkit's or the web engine's.
  for (const char* noise : {"player: ", "Overriding existing handler", "Disabled hardware acceleration"})
    EXPECT_EQ(lumetta->output().find(noise), std::string::npos) << noise << "\n" << lumetta->output();
}

// Sound on only when asked for (the full view above plays muted).
TEST_F(LumettaWindowTest, PreviewShowsThePreviewProgramIn200By150) {
  auto lumetta = Start({"--platform", "gtk", "--preview", "--sound"});
  Play(*lumetta, "ssptemp");
  Stop(*lumetta);
  EXPECT_NE(lumetta->output().find("page: volume 1 ("), std::string::npos) << lumetta->output();
  ExpectDemoProgram(m_snapshot, 200, 150, kDemoPreview);
}

// XScreenSaver's way: a window made by someone else, given by its id on
// the command line or in the environment. One the size of the screen is
// the daemon's, which it resizes when the screen changes size (the view
// follows, and lays the program out in the new area); a smaller one a
// settings dialog's preview: Debian 12's MATE preferences give 480x300 in
// the environment with the theme's "--root".
TEST_F(LumettaWindowTest, DrawsInsideXScreenSaverWindowsAndFollowsTheirSize) {
  struct Case {
    int width, height;
    bool byEnvironment;
    const DemoSwfStyle& style;
    const char* file;
  };
  const Screen* screen = DefaultScreenOfDisplay(m_display);
  for (const Case& c : {Case{WidthOfScreen(screen), HeightOfScreen(screen), false, kDemoMain, "ssftemp"},
                        Case{480, 300, true, kDemoPreview, "ssptemp"}}) {
    const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
    SCOPED_TRACE(size);
    Name("XScreenSaverWindow-" + size);
    const Window window = MappedWindow(m_display, c.width, c.height);
    auto lumetta = c.byEnvironment ? Start({"-root"}, std::to_string(window))
                                   : Start({"-window-id", std::to_string(window)});
    Play(*lumetta, c.file);
    EXPECT_NE(lumetta->output().find(size + " X window given to us"), std::string::npos)
        << lumetta->output();
    ExpectDemoProgram(m_snapshot, c.width, c.height, c.style);

    if (!c.byEnvironment) {
      constexpr int kWidth = 640, kHeight = 480;
      XResizeWindow(m_display, window, kWidth, kHeight);
      XSync(m_display, False);
      // Just below the new stage, in its letterbox: the old, larger stage's
      // background until the view has followed; and the new stage's corner.
      const Stage stage(kWidth, kHeight);
      const int belowX = kWidth / 2, belowY = stage.y(kDemoStageHeight) + 2;
      const int cornerX = stage.x(540), cornerY = stage.y(390);
      ASSERT_LT(belowY, kHeight);
      const Pixels resized = PictureWhen(m_display, window, [&](const Pixels& p) {
        return p.width() == kWidth && !Near(p.at(belowX, belowY), kDemoMain.background) &&
               Near(p.at(cornerX, cornerY), kDemoMain.background);
      }, kStopLimit);
      ASSERT_NE(resized.pixbuf, nullptr);
      ASSERT_EQ(resized.width(), kWidth);
      EXPECT_FALSE(Near(resized.at(belowX, belowY), kDemoMain.background))
          << "at (" << belowX << "," << belowY << "), below the stage: " << Describe(resized.at(belowX, belowY));
      EXPECT_TRUE(Near(resized.at(cornerX, cornerY), kDemoMain.background))
          << "at (" << cornerX << "," << cornerY << ") of the resized window: "
          << Describe(resized.at(cornerX, cornerY));
    }
    Stop(*lumetta);
    XDestroyWindow(m_display, window);
    XSync(m_display, False);
  }
}

// A locked or blanked screen puts a window over everything, or takes the
// saver's window away; either way the player stops until it shows again.
TEST_F(LumettaWindowTest, PausesWhileCoveredOrUnmappedAndPlaysAgain) {
  auto lumetta = Start({"--platform", "gtk", "--window-size", "320x240"});
  ASSERT_TRUE(lumetta->waitForOutput("snapshot: ", kPlayLimit)) << lumetta->output();
  const Window window = FindMappedWindow(m_display, "lumetta");
  ASSERT_NE(window, 0u) << "no mapped window named lumetta";
  EXPECT_EQ(lumetta->count("page: paused"), 0u) << lumetta->output();

  // Covered: a window over the whole screen, as a locker puts up.
  XSetWindowAttributes attributes = {};
  attributes.override_redirect = True;
  const Screen* screen = DefaultScreenOfDisplay(m_display);
  const Window cover = XCreateWindow(m_display, DefaultRootWindow(m_display), 0, 0,
                                     static_cast<unsigned>(WidthOfScreen(screen)),
                                     static_cast<unsigned>(HeightOfScreen(screen)), 0,
                                     CopyFromParent, InputOutput, CopyFromParent,
                                     CWOverrideRedirect, &attributes);
  // After each change the page says what its players did, for the n-th time.
  const auto expectPage = [&](const char* state, size_t times) {
    XSync(m_display, False);
    EXPECT_TRUE(lumetta->waitForOutput(std::string("page: ") + state + " (", kStopLimit, times))
        << lumetta->output();
  };
  XMapRaised(m_display, cover);
  expectPage("paused", 1);
  XDestroyWindow(m_display, cover);
  expectPage("playing", 1);

  // Unmapped, then shown again.
  XUnmapWindow(m_display, window);
  expectPage("paused", 2);
  XMapWindow(m_display, window);
  expectPage("playing", 2);

  EXPECT_EQ(lumetta->count("stuck"), 0u) << "a player did not follow:\n" << lumetta->output();
  EXPECT_EQ(lumetta->stopWith(SIGTERM, kStopLimit), 0) << lumetta->output();
}

// The configuration sheet is a window of its own that plays the settings
// program: its background over most of the sheet and its square, whole,
// in the middle; nothing of the main program. A form without a settings
// program: the sheet says so, in light text on its black, rather than
// staying blank (or white).
TEST_F(LumettaWindowTest, ConfigurationSheetPlaysTheSettingsProgramOrSaysThereIsNone) {
  // As a person runs it: the window of the default size beside the sheet.
  auto lumetta = Start({"--platform", "gtk", "--configure"});
  // Both views report their program loaded, the sheet's the settings one.
  ASSERT_TRUE(lumetta->waitForOutput("page: loaded ", kPlayLimit, 2)) << lumetta->output();
  ASSERT_NE(lumetta->output().find("page: loaded file://" + m_temp.string() + "/ssstemp."),
            std::string::npos)
      << lumetta->output();
  Window sheet = WaitForWindow("lumetta settings");
  ASSERT_NE(sheet, 0u) << "no mapped window named \"lumetta settings\"";
  const auto square = [](const Rgb& c) { return Near(c, kDemoSettings.square); };
  const Pixels settings =
      PictureWhen(m_display, sheet, [&](const Pixels& p) { return CountPixels(p, square) > 0; }, kStopLimit);
  ASSERT_NE(settings.pixbuf, nullptr);
  // The stage fills the web view above the OK button, nearly at scale 1.
  const double side = kDemoSquareSize;
  const size_t all = static_cast<size_t>(settings.width()) * static_cast<size_t>(settings.height());
  EXPECT_GT(CountPixels(settings, [](const Rgb& c) { return Near(c, kDemoSettings.background); }), all / 2)
      << "settings background pixels of " << all;
  EXPECT_GT(CountPixels(settings, square), side * side * 0.8) << "settings square pixels";
  EXPECT_LT(CountPixels(settings, square), side * side * 1.1) << "settings square pixels";
  EXPECT_EQ(CountPixels(settings, [](const Rgb& c) {
              return Near(c, kDemoMain.background) || Near(c, kDemoMain.square);
            }), 0u) << "the main program's colours in the sheet";
  EXPECT_EQ(lumetta->stopWith(SIGTERM, kStopLimit), 0) << lumetta->output();

  const std::filesystem::path package = m_temp / "package";
  ASSERT_TRUE(MakePackageFolder(package, {FormContent{MakeDemoSwf(kDemoMain), MakeDemoSwf(kDemoPreview), {}}}));
  lumetta = Start({"--platform", "gtk", "--configure", "--window-size", "320x240", "--resources", package});
  ASSERT_TRUE(lumetta->waitForOutput("page: loaded ", kPlayLimit)) << lumetta->output();
  sheet = WaitForWindow("lumetta settings");
  ASSERT_NE(sheet, 0u) << "no mapped window named \"lumetta settings\"";
  // Above the button row: some pixels of the text, and nothing else lit.
  const auto text = [](const Rgb& c) { return Near(c, Rgb{0xdd, 0xdd, 0xdd}); };
  const Pixels notice = PictureWhen(m_display, sheet, [&](const Pixels& p) {
    return CountPixels(p, text, 1, p.height() - 80) >= 50;
  }, kStopLimit);
  ASSERT_NE(notice.pixbuf, nullptr);
  const int rows = notice.height() - 80;
  ASSERT_GT(rows, 100);
  EXPECT_GE(CountPixels(notice, text, 1, rows), 50u) << "pixels of the notice's text";
  EXPECT_LT(CountPixels(notice, Lit, 1, rows), static_cast<size_t>(notice.width() * rows / 10))
      << "lit pixels of " << notice.width() * rows;
  EXPECT_EQ(lumetta->output().find("lumetta: the player cannot show"), std::string::npos)
      << lumetta->output();
  EXPECT_EQ(lumetta->stopWith(SIGTERM, kStopLimit), 0) << lumetta->output();
}

// A program the player cannot show: one it refuses to parse (though the
// configuration sheet's player refuses its copy too), or one it loads but
// cannot run, which shows nothing but its background. The person is told
// once, with the player's own reason, and lumetta exits 1.
TEST_F(LumettaWindowTest, AProgramThePlayerCannotShowIsReportedOnceWithThePlayersReason) {
  const Bytes notSwf(4000, 'x');
  const std::string blank = "lumetta: the player shows nothing of the program: ";
  const struct {
    FormContent form;
    std::vector<std::string> args;
    std::string said;
    std::string alsoOnce;
    size_t failedPages;  // both, the sheet's too, before it is judged
  } cases[] = {
      // Left to choose, under Xvfb it takes canvas without loading a driver.
      {FormContent{notSwf, {}, notSwf}, {"--configure", "--verbose"},
       "lumetta: the player cannot show the program: Ruffle cannot parse the requested file. The "
       "most likely reason is that the requested file is not a valid SWF. (Not a valid swf: ",
       "player: canvas renderer (software OpenGL only: the display offers no direct rendering)", 2},
      {FormContent{MakeCorruptCodeSwf(kDemoMain.background), {}, {}}, {},
       blank + "Error loading AVM2 ABC: VerifyError: Error #1107: The ABC data is corrupt, attempt "
               "to read out of bounds.\n",
       blank, 0},
  };
  for (const auto& c : cases) {
    const std::filesystem::path resources = m_temp / "resources";
    std::filesystem::remove_all(resources);
    ASSERT_TRUE(MakePackageFolder(resources, {c.form}));
    std::vector<std::string> args = {"--platform", "gtk", "--window-size", "320x240", "--resources", resources};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto lumetta = Start(args);
    // Not shown: the host shows what it shows instead.
    ASSERT_TRUE(lumetta->waitForOutput(c.said, kPlayLimit)) << lumetta->output();
    if (c.failedPages > 0) {
      ASSERT_TRUE(lumetta->waitForOutput("page: failed ", kPlayLimit, c.failedPages)) << lumetta->output();
    }
    EXPECT_EQ(lumetta->stopWith(SIGTERM, kStopLimit), 1) << lumetta->output();
    EXPECT_EQ(lumetta->count(c.said), 1u) << lumetta->output();
    EXPECT_EQ(lumetta->count(c.alsoOnce), 1u) << lumetta->output();
  }
}

}  // namespace
