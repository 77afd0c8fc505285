// lumetta when the X side fails under it: a window id that names no
// window, the window it draws in destroyed, the X server gone. Each time a
// clear message, exit status 1, and no extracted program left behind.

#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/lumetta/LumettaProcess_test.h"

// Last: its macros clash with names inside GoogleTest.
#include <X11/Xlib.h>

namespace {

using namespace std::chrono_literals;

// Generous: the machine may be busy building.
constexpr auto kPlayLimit = 120s;
constexpr auto kStopLimit = 20s;

std::string Hex(unsigned long id) {
  std::ostringstream out;
  out << "0x" << std::hex << id;
  return out.str();
}

class LumettaXErrorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_temp = FreshTestFolder("lumetta-x-");
    std::filesystem::create_directories(m_temp / "tmp");
    m_output = (m_temp / "output.log").string();
  }
  void TearDown() override { std::filesystem::remove_all(m_temp); }

  std::unique_ptr<LumettaProcess> Start(const std::vector<std::string>& args,
                                        const std::string& display) {
    std::vector<std::string> all = args;
    all.insert(all.end(), {"--resources", LUMETTA_DEMO_RESOURCES});
    return std::make_unique<LumettaProcess>(all, display, (m_temp / "tmp").string(), m_output);
  }

  void PlayThenLose(bool server);

  // The extracted programs still in lumetta's TMPDIR.
  std::vector<std::string> LeftFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_temp / "tmp"))
      names.push_back(entry.path().filename().string());
    return names;
  }

  std::filesystem::path m_temp;
  std::string m_output;
};

TEST_F(LumettaXErrorsTest, AWindowIdThatNamesNoWindow) {
  XvfbServer server;
  if (server.display().empty()) GTEST_SKIP() << "no X server for this test: " << server.why();
  Display* display = XOpenDisplay(server.display().c_str());
  ASSERT_NE(display, nullptr);
  // A window made and destroyed: its id names nothing now.
  const Window gone = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 10, 10, 0, 0, 0);
  XDestroyWindow(display, gone);
  XSync(display, False);

  auto lumetta = Start({"--window-id", Hex(gone)}, server.display());
  EXPECT_EQ(lumetta->waitForExit(kStopLimit), 1) << lumetta->output();
  EXPECT_NE(lumetta->output().find("lumetta: there is no X window " + Hex(gone) + "\n"),
            std::string::npos)
      << lumetta->output();
  EXPECT_EQ(LeftFiles(), std::vector<std::string>{});
  XCloseDisplay(display);
}

// The X side goes away while the program plays in XScreenSaver's way, in
// a window made by someone else: the window is destroyed, or the server
// is killed.
void LumettaXErrorsTest::PlayThenLose(bool server) {
  XvfbServer xvfb;
  if (xvfb.display().empty()) GTEST_SKIP() << "no X server for this test: " << xvfb.why();
  Display* display = XOpenDisplay(xvfb.display().c_str());
  ASSERT_NE(display, nullptr);
  const Window window =
      XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 400, 300, 0, 0, 0);
  XMapWindow(display, window);
  XSync(display, False);

  auto lumetta = Start({"--window-id", Hex(window)}, xvfb.display());
  ASSERT_TRUE(lumetta->waitForOutput("page: loaded ", kPlayLimit)) << lumetta->output();
  // Read through their descriptors, the programs' names are gone already.
  ASSERT_EQ(LeftFiles(), std::vector<std::string>{}) << lumetta->output();
  if (server) {
    // Kept past our connection: closed, it would take the window with it,
    // and lumetta could see the window go before the server.
    XSetCloseDownMode(display, RetainPermanent);
    XCloseDisplay(display);
    xvfb.crash();
  } else {
    XDestroyWindow(display, window);
    XCloseDisplay(display);
  }
  EXPECT_EQ(lumetta->waitForExit(kStopLimit), 1) << lumetta->output();
  const std::string message =
      server ? "lumetta: the connection to the X server " + xvfb.display() + " was lost\n"
             : "lumetta: the X window " + Hex(window) + " or ours inside it was destroyed\n";
  EXPECT_NE(lumetta->output().find(message), std::string::npos) << lumetta->output();
  EXPECT_EQ(LeftFiles(), std::vector<std::string>{}) << lumetta->output();
}

TEST_F(LumettaXErrorsTest, TheWindowDestroyedWhileItPlays) { PlayThenLose(false); }

TEST_F(LumettaXErrorsTest, TheXServerKilledWhileItPlays) { PlayThenLose(true); }

}  // namespace
