// The player's renderer from what the display offers: the decision table,
// and the probe against a real X server without a GPU.

#include "saver/platform/gtk/RendererChoice.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "saver/platform/gtk/Xvfb_test.h"

// Last: its macros clash with names inside GoogleTest.
#include <X11/Xlib.h>

namespace {

DisplayOpenGL Direct(const std::string& renderer) { return DisplayOpenGL{true, true, renderer}; }

// Automatic follows the renderer string; asked for wins over the display.
TEST(RendererChoice, AutomaticFollowsTheRendererStringAskedForWins) {
  const char* askedWebGL = "player: webgl renderer (asked for with --renderer webgl)";
  const char* askedCanvas = "player: canvas renderer (asked for with --renderer canvas)";
  const struct {
    const char* what;
    DisplayOpenGL gl;
    const char* line;
    WindowRenderer choice = WindowRenderer::automatic;
  } cases[] = {
      {"Intel", Direct("Mesa Intel(R) UHD Graphics 620 (KBL GT2)"),
       "player: webgl renderer (hardware OpenGL: Mesa Intel(R) UHD Graphics 620 (KBL GT2))"},
      {"AMD", Direct("AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49, 6.1.0-13-amd64)"),
       "player: webgl renderer (hardware OpenGL: AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM "
       "3.49, 6.1.0-13-amd64))"},
      {"NVIDIA", Direct("NVIDIA GeForce GTX 1650/PCIe/SSE2"),
       "player: webgl renderer (hardware OpenGL: NVIDIA GeForce GTX 1650/PCIe/SSE2)"},
      {"virgl", Direct("virgl (Intel(R) Iris(R) Xe Graphics)"),
       "player: webgl renderer (hardware OpenGL: virgl (Intel(R) Iris(R) Xe Graphics))"},
      {"llvmpipe", Direct("llvmpipe (LLVM 15.0.6, 256 bits)"),
       "player: canvas renderer (software OpenGL: llvmpipe)"},
      {"zink on lavapipe", Direct("zink (llvmpipe (LLVM 15.0.6, 256 bits))"),
       "player: canvas renderer (software OpenGL: llvmpipe)"},
      {"softpipe", Direct("softpipe"), "player: canvas renderer (software OpenGL: softpipe)"},
      {"swrast", Direct("Gallium 0.4 on SWRAST"), "player: canvas renderer (software OpenGL: swrast)"},
      {"classic swrast", Direct("Software Rasterizer"), "player: canvas renderer (software OpenGL: swrast)"},
      {"no GLX", DisplayOpenGL{}, "player: canvas renderer (no OpenGL: the display has no GLX)"},
      {"GLX without direct rendering", DisplayOpenGL{true, false, ""},
       "player: canvas renderer (software OpenGL only: the display offers no direct rendering)"},
      {"a driver that names nothing", Direct(""),
       "player: canvas renderer (no OpenGL: the display's driver names no renderer)"},
      {"webgl on llvmpipe", Direct("llvmpipe (LLVM 15.0.6, 256 bits)"), askedWebGL, WindowRenderer::webgl},
      {"webgl without GLX", DisplayOpenGL{}, askedWebGL, WindowRenderer::webgl},
      {"canvas on NVIDIA", Direct("NVIDIA GeForce GTX 1650/PCIe/SSE2"), askedCanvas, WindowRenderer::canvas},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const RendererDecision decision = DecideRenderer(c.choice, c.gl);
    EXPECT_EQ(DescribeDecision(decision), c.line);
    // Compositing goes with WebGL, and only with it.
    EXPECT_EQ(decision.compositing, decision.renderer == PlayerRenderer::webgl);
  }
}

// Xvfb: GLX but no direct rendering, and Mesa's software rasteriser when
// the driver is asked anyway.
TEST(RendererChoice, ProbeOnXvfbFindsOnlySoftwareOpenGL) {
  XvfbServer server;
  if (server.display().empty()) GTEST_SKIP() << server.why();
  Display* display = XOpenDisplay(server.display().c_str());
  ASSERT_NE(display, nullptr);

  const DisplayOpenGL quick = ProbeDisplayOpenGL(display);
  EXPECT_TRUE(quick.glx);
  EXPECT_FALSE(quick.direct);
  EXPECT_EQ(quick.renderer, "") << "the driver was loaded without need";
  EXPECT_EQ(DecideRenderer(WindowRenderer::automatic, quick).renderer, PlayerRenderer::canvas);

  XCloseDisplay(display);

  // Asking the driver loads Mesa, which unloads parts of itself when the
  // display closes; the leak checker would take what they held for leaks
  // of ours. So the driver is asked in a child, which reports its answer.
  int answer[2];
  ASSERT_EQ(pipe(answer), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(answer[0]);
    Display* own = XOpenDisplay(server.display().c_str());
    const DisplayOpenGL asked = ProbeDisplayOpenGL(own, true);
    const std::string report = (asked.glx ? "glx " : "no-glx ") + asked.renderer;
    const bool written =
        write(answer[1], report.data(), report.size()) == static_cast<ssize_t>(report.size());
    _exit(written ? 0 : 1);
  }
  close(answer[1]);
  std::string report;
  char buffer[256];
  for (ssize_t n; (n = read(answer[0], buffer, sizeof buffer)) > 0;)
    report.append(buffer, static_cast<size_t>(n));
  close(answer[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ASSERT_EQ(report.rfind("glx ", 0), 0u) << report;
  const DisplayOpenGL asked{true, false, report.substr(4)};
  EXPECT_NE(SoftwareRasteriser(asked.renderer), "") << "renderer: '" << asked.renderer << "'";
  EXPECT_EQ(DecideRenderer(WindowRenderer::automatic, asked).renderer, PlayerRenderer::canvas);
}

}  // namespace
