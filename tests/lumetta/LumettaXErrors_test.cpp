// lumetta when the X side fails under it: a window id that names no
// window, the window it draws in destroyed, the X server gone. Each time a
// clear message, exit status 1, and no extracted program left behind.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "tests/lumetta/LumettaProcess_test.h"
#include "tests/lumetta/WindowPixels_test.h"  // last: Xlib

namespace {

using namespace std::chrono_literals;

// Generous: the machine may be busy building.
constexpr auto kPlayLimit = 120s;
constexpr auto kStopLimit = 20s;

// XScreenSaver's way, in a window made by someone else: one destroyed
// before lumetta starts, or while it plays; or the server killed then.
enum class Loss { windowBeforeStart, windowWhilePlaying, server };

TEST(LumettaXErrorsTest, TheWindowOrTheServerLostIsSaidAndLeavesNothing) {
  for (const Loss loss : {Loss::windowBeforeStart, Loss::windowWhilePlaying, Loss::server}) {
    SCOPED_TRACE(static_cast<int>(loss));
    XvfbServer xvfb;
    if (xvfb.display().empty()) GTEST_SKIP() << "no X server for this test: " << xvfb.why();
    const std::filesystem::path folder = FreshTestFolder("lumetta-x-");
    std::filesystem::create_directories(folder / "tmp");
    Display* display = XOpenDisplay(xvfb.display().c_str());
    ASSERT_NE(display, nullptr);
    const Window window = MappedWindow(display, 400, 300);
    if (loss == Loss::windowBeforeStart) {
      XDestroyWindow(display, window);
      XSync(display, False);
    }
    LumettaProcess lumetta({"--window-id", Hex(window), "--resources", LUMETTA_DEMO_RESOURCES},
                           xvfb.display(), (folder / "tmp").string(), (folder / "output.log").string());
    if (loss != Loss::windowBeforeStart) {
      ASSERT_TRUE(lumetta.waitForOutput("page: loaded ", kPlayLimit)) << lumetta.output();
    }
    if (loss == Loss::server) {
      // Kept past our connection: closed, it would take the window with it,
      // and lumetta could see the window go before the server.
      XSetCloseDownMode(display, RetainPermanent);
      XCloseDisplay(display);
      xvfb.crash();
    } else {
      if (loss == Loss::windowWhilePlaying) XDestroyWindow(display, window);
      XCloseDisplay(display);
    }
    EXPECT_EQ(lumetta.waitForExit(kStopLimit), 1) << lumetta.output();
    const std::string message =
        loss == Loss::windowBeforeStart ? "lumetta: there is no X window " + Hex(window) + "\n"
        : loss == Loss::windowWhilePlaying
            ? "lumetta: the X window " + Hex(window) + " or ours inside it was destroyed\n"
            : "lumetta: the connection to the X server " + xvfb.display() + " was lost\n";
    EXPECT_NE(lumetta.output().find(message), std::string::npos) << lumetta.output();
    EXPECT_TRUE(std::filesystem::is_empty(folder / "tmp")) << lumetta.output();
    std::filesystem::remove_all(folder);
  }
}

}  // namespace
