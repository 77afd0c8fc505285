#include "saver/platform/gtk/GtkHost.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include "saver/platform/TerminalText.h"
#include "saver/platform/gtk/BlankStageWatch.h"
#include "saver/platform/gtk/FirstFrameProbe.h"
#include "saver/platform/gtk/GtkPlatform.h"
#include "saver/platform/gtk/RendererChoice.h"
#include "saver/platform/gtk/WebKitSpecialScheme.h"

namespace {

// The most of a page's text (an error, a URL) shown in one line.
constexpr size_t kLongestShown = 500;
// The most requests of the special scheme reported.
constexpr int kMostRequestsShown = 100;

// How long after the player loaded the program a stage showing one colour
// only counts as blank: a few seconds of frames, even on a busy machine.
constexpr unsigned kBlankStageMilliseconds = 3000;

// Seconds since this process started, exec and linking included.
double SecondsSinceStart() {
  std::ifstream stat("/proc/self/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i) {}  // field 22: start time in ticks
  struct timespec now = {};
  clock_gettime(CLOCK_BOOTTIME, &now);
  const double started = std::strtod(field.c_str(), nullptr) / static_cast<double>(sysconf(_SC_CLK_TCK));
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9 - started;
}

std::string Elapsed() {
  std::ostringstream out;
  out << std::fixed << std::setprecision(2) << SecondsSinceStart() << " s";
  return out.str();
}

// The size of a foreign window; false when there is no such window.
bool ForeignWindowSize(unsigned long id, int& width, int& height) {
  GdkDisplay* display = gdk_display_get_default();
  XWindowAttributes attributes = {};
  gdk_x11_display_error_trap_push(display);
  const Status status = XGetWindowAttributes(GDK_DISPLAY_XDISPLAY(display), id, &attributes);
  const int error = gdk_x11_display_error_trap_pop(display);
  if (status == 0 || error != 0) return false;
  width = attributes.width;
  height = attributes.height;
  return true;
}

// A window given to us that is smaller than the monitor it lies on is a
// settings dialog's preview: XScreenSaver's dialog gives about 535x300 by
// --window-id, MATE's preferences a window of like size by
// XSCREENSAVER_WINDOW with the theme's own "--root". The daemons give a
// window the size of a monitor (or of the whole screen).
bool SmallerThanItsMonitor(unsigned long id, int width, int height) {
  GdkDisplay* display = gdk_display_get_default();
  Display* xdisplay = GDK_DISPLAY_XDISPLAY(display);
  int x = 0;
  int y = 0;
  Window child = 0;
  gdk_x11_display_error_trap_push(display);
  const Bool translated = XTranslateCoordinates(xdisplay, id, DefaultRootWindow(xdisplay), width / 2,
                                                height / 2, &x, &y, &child);
  gdk_x11_display_error_trap_pop_ignored(display);
  if (!translated) return false;
  // X counts device pixels, GDK's monitors logical ones.
  const int scale = std::max(1, gdk_window_get_scale_factor(gdk_get_default_root_window()));
  GdkMonitor* monitor = gdk_display_get_monitor_at_point(display, x / scale, y / scale);
  if (monitor == nullptr) return false;
  GdkRectangle area = {};
  gdk_monitor_get_geometry(monitor, &area);
  return width < area.width * scale || height < area.height * scale;
}

// When the X side fails under us. Xlib ends the process once its handler
// for a lost connection returns, and GDK's handler for an X error it did
// not expect ends it with _exit: neither path releases the view, so the
// program is told first (and deletes the extracted programs).
struct XFailureWatch {
  XErrorHandler gdkHandler = nullptr;
  unsigned long embedWindow = 0;  // the window given to us
  unsigned long plugWindow = 0;   // ours, inside it
  bool lastErrorWasAGoneWindow = false;
} g_xWatch;

// Told of every line for the person, and of failures that end the process.
WindowLayerHost* g_host = nullptr;

void Say(const std::string& line) { g_host->report(false, line); }
void Complain(const std::string& line) { g_host->report(true, "lumetta: " + line); }

[[noreturn]] void FailOnX(const std::string& why) {
  g_host->fail(why);
  _exit(1);  // not reached: the compiler cannot see through the call
}

std::string Hex(unsigned long id) {
  std::ostringstream out;
  out << "0x" << std::hex << id;
  return out.str();
}

std::string WindowDestroyed() {
  return "the X window " + Hex(g_xWatch.embedWindow) + " or ours inside it was destroyed";
}

int OnXConnectionLost(Display* display) {
  FailOnX(std::string("the connection to the X server ") + DisplayString(display) + " was lost");
}

// An error on the window given to us, or on ours inside it, means they are
// gone. Every other error goes to GDK's handler, which knows what its own
// traps expect.
int OnXError(Display* display, XErrorEvent* error) {
  const bool ours = error->resourceid != 0 && (error->resourceid == g_xWatch.embedWindow ||
                                               error->resourceid == g_xWatch.plugWindow);
  const bool gone = error->error_code == BadWindow || error->error_code == BadDrawable;
  if (ours && gone) FailOnX(WindowDestroyed());
  // Which window an error names depends on the toolkit's version (one of
  // its own inside ours, as often as ours): GDK decides whether it expected
  // the error, and WriteLog hears if it did not.
  g_xWatch.lastErrorWasAGoneWindow = gone;
  return g_xWatch.gdkHandler != nullptr ? g_xWatch.gdkHandler(display, error) : 0;
}

void WatchForXFailures() {
  XSetIOErrorHandler(OnXConnectionLost);
  g_xWatch.gdkHandler = XSetErrorHandler(OnXError);
}

// The web engine warns on every start that it cannot use OpenGL, which is
// what we asked for when it does not composite (PrepareGtkForPlayer): that
// warning is dropped, every other message goes where it would have gone.
bool g_glDisabledOnPurpose = false;

//
// GDK says "The program '...' received an X Window System error." only of
// an error none of its traps expected, and ends the process with _exit
// right after: the programs are deleted before that, and lumetta says why.
GLogWriterOutput WriteLog(GLogLevelFlags level, const GLogField* fields, gsize count, gpointer data) {
  for (gsize i = 0; i < count; ++i) {
    if (std::string_view(fields[i].key) != "MESSAGE" || fields[i].length != -1) continue;
    const std::string_view message(static_cast<const char*>(fields[i].value));
    if (g_glDisabledOnPurpose &&
        message.rfind("Disabled hardware acceleration because GTK failed to initialize GL", 0) == 0)
      return G_LOG_WRITER_HANDLED;
    if (message.find("received an X Window System error") != std::string_view::npos) {
      if (g_xWatch.embedWindow != 0 && g_xWatch.lastErrorWasAGoneWindow) FailOnX(WindowDestroyed());
      // Its line naming the error, e.g. "The error was 'BadAlloc (...)'."
      std::string_view cause = message.substr(std::min(message.find("The error was"), message.size()));
      cause = cause.substr(0, cause.find('\n'));
      FailOnX("an X error the toolkit did not expect: " + Printable(cause, 200));
    }
  }
  return g_log_writer_default(level, fields, count, data);
}


// Which renderer the player uses, decided before the toolkit opens the
// display, which it then sets up for OpenGL only when the web engine
// composites.
RendererDecision ChooseRenderer(WindowRenderer asked, Display*& probed) {
  probed = asked == WindowRenderer::automatic ? XOpenDisplay(nullptr) : nullptr;
  const RendererDecision renderer =
      DecideRenderer(asked, probed != nullptr ? ProbeDisplayOpenGL(probed) : DisplayOpenGL{});
  PrepareGtkForPlayer(renderer.compositing);
  g_glDisabledOnPurpose = !renderer.compositing;
  return renderer;
}

// Starts GTK on X11; false, having said why, without a display.
bool StartGtk(const WindowLayerOptions& options, RendererDecision& renderer) {
  g_log_set_writer_func(WriteLog, nullptr, nullptr);
  // Embedding in another program's window and the snapshots are X11's.
  gdk_set_allowed_backends("x11");
  Display* probed = nullptr;
  renderer = ChooseRenderer(options.renderer, probed);
  const bool opened = gtk_init_check(nullptr, nullptr);
  // Only now: a server whose last client leaves resets, and refuses
  // connections meanwhile.
  if (probed != nullptr) XCloseDisplay(probed);
  if (!opened) {
    const char* display = std::getenv("DISPLAY");
    Complain("cannot open the X display '" + Printable(display != nullptr ? display : "", 100) +
             "'; try --platform headless");
    return false;
  }
  WatchForXFailures();
  if (options.verbose) g_host->report(true, Printable(DescribeDecision(renderer)));
  return true;
}

// Where the view goes and how large it is.
struct Geometry {
  unsigned long embedWindow = 0;
  int width = 0;
  int height = 0;
  bool preview = false;
};

// False, having said why, when the window given to us is not there.
bool EmbeddingGeometry(const WindowLayerOptions& options, Geometry& geometry) {
  geometry.preview = options.preview;
  geometry.width = options.width > 0 ? options.width : options.preview ? 200 : 800;
  geometry.height = options.height > 0 ? options.height : options.preview ? 150 : 600;
  geometry.embedWindow = options.embedRoot ? GDK_WINDOW_XID(gdk_get_default_root_window())
                                           : options.embedWindow;
  if (geometry.embedWindow == 0) return true;
  if (!ForeignWindowSize(geometry.embedWindow, geometry.width, geometry.height)) {
    Complain("there is no X window " + Hex(geometry.embedWindow));
    return false;
  }
  g_xWatch.embedWindow = geometry.embedWindow;
  geometry.preview =
      geometry.preview || SmallerThanItsMonitor(geometry.embedWindow, geometry.width, geometry.height);
  return true;
}

// A page may ask for thousands of the scheme's URLs; the first ones say
// what it loads.
void ReportSchemeRequest(const std::string& url, bool served) {
  static int shown = 0;
  if (++shown > kMostRequestsShown) {
    if (shown == kMostRequestsShown + 1) Say("(further requests are not shown)");
    return;
  }
  Say((served ? "served " : "refused ") + Printable(url, kLongestShown) + " (" + Elapsed() + ")");
}

// A GLib source that quits the loop, above the web engine's sources: a
// page that keeps the engine busy does not hold the stop back.
gboolean QuitLoop(gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
  return G_SOURCE_REMOVE;
}

void RemoveSource(guint id) {
  if (id != 0 && g_main_context_find_source_by_id(nullptr, id)) g_source_remove(id);
}

bool Readable(int fd) {
  struct pollfd ready = {fd, POLLIN, 0};
  return fd >= 0 && poll(&ready, 1, 0) > 0;
}

GtkPlatformOptions PlatformOptions(WindowLayerHost& host, const WindowLayerOptions& options,
                                   const RendererDecision& renderer, unsigned long embedWindow) {
  GtkPlatformOptions platform(host);
  platform.resources = options.resources;
  platform.shareFolder = options.shareFolder;
  platform.temporaryDirectory = options.temporaryDirectory;
  platform.scheme = options.scheme;
  platform.fullscreen = options.fullscreen;
  platform.sound = options.sound;
  platform.network = options.network;
  platform.embedWindow = embedWindow;
  // Before any web view exists: the web engine's settings follow it.
  platform.renderer = renderer;
  return platform;
}

class GtkLayer : public WindowLayer {
 public:
  GtkLayer(const WindowLayerOptions& options, GtkPlatformOptions platformOptions,
           const Geometry& geometry)
      : m_snapshot(options.snapshot), m_seconds(options.seconds), m_stopFd(options.stopFd),
        m_geometry(geometry), m_platform(std::move(platformOptions)) {
    SetSpecialSchemeObserver(ReportSchemeRequest);
    m_platform.setCloseListener([this] { g_main_loop_quit(m_loop); });
    m_platform.setLeaveListener([this](const std::string& url) { onLeave(url); });
    m_platform.setMessageListener([this](const std::string& message) { onMessage(message); });
  }
  ~GtkLayer() override { g_main_loop_unref(m_loop); }

  SaverPlatform& platform() override { return m_platform; }
  Rect frame() const override {
    return Rect{0, 0, static_cast<double>(m_geometry.width), static_cast<double>(m_geometry.height)};
  }
  bool preview() const override { return m_geometry.preview; }
  bool embedded() const override { return m_geometry.embedWindow != 0; }

  void viewShown() override {
    if (GdkWindow* plug = embedded() ? gtk_widget_get_window(m_platform.window()) : nullptr)
      g_xWatch.plugWindow = GDK_WINDOW_XID(plug);
    if (!m_snapshot.empty()) watchFirstFrame();
  }

  void showSheetNotice(SheetWindow& sheet, const std::string& text) override {
    m_platform.showSheetNotice(sheet, text);
  }

  int run() override {
    const guint timer =
        m_seconds < 0 ? 0
                      : g_timeout_add_full(G_PRIORITY_HIGH, static_cast<guint>(m_seconds * 1000),
                                           QuitLoop, m_loop, nullptr);
    const guint stopWatch =
        m_stopFd < 0 ? 0
                     : g_unix_fd_add_full(G_PRIORITY_HIGH, m_stopFd, G_IO_IN,
                                          [](gint, GIOCondition, gpointer loop) {
                                            return QuitLoop(loop);
                                          }, m_loop, nullptr);
    if (!Readable(m_stopFd)) g_main_loop_run(m_loop);
    Say(std::string(Readable(m_stopFd) ? "stopped by a signal" : "stopped") + " after " + Elapsed());
    m_probe.reset();
    m_blankWatch.reset();
    RemoveSource(timer);
    RemoveSource(stopWatch);
    return m_status;
  }

 private:
  void onLeave(const std::string& url) {
    if (m_pageLeft) return;
    m_pageLeft = true;
    Complain("the page tried to leave for " + Printable(url, kLongestShown) +
             "; it stays on the saver's page");
  }

  void onMessage(const std::string& message) {
    Say("page: " + Printable(message, kLongestShown) + " (" + Elapsed() + ")");
    // The page says it once per player; the person is told once. The host
    // shows something of its own instead when we end with status 1.
    if (message.rfind("failed ", 0) == 0 && !m_playerFailed) {
      m_playerFailed = true;
      m_status = 1;
      Complain("the player cannot show the program: " +
               Printable(message.substr(7), kLongestShown));
    }
    if (message.rfind("loaded ", 0) == 0) {
      if (m_probe) m_probe->start();
      if (!m_blankWatch) watchStage();
    }
  }

  void watchStage() {
    m_blankWatch = std::make_unique<BlankStageWatch>(
        m_platform.mainWebView(), kBlankStageMilliseconds, [this](const std::string& error) {
          if (m_playerFailed) return;
          m_status = 1;
          Complain("the player shows nothing of the program: " + Printable(error, kLongestShown));
        });
  }

  void watchFirstFrame() {
    m_probe = std::make_unique<FirstFrameProbe>(
        m_platform.mainWebView(), m_snapshot, [] { Say("first frame drawn after " + Elapsed()); },
        [this](bool saved) {
          if (saved) {
            Say("snapshot: " + Printable(m_snapshot));
          } else {
            Complain("the snapshot could not be saved to " + Printable(m_snapshot));
            m_status = 1;
          }
        });
  }

  const std::string m_snapshot;
  const double m_seconds;
  const int m_stopFd;
  const Geometry m_geometry;
  GMainLoop* m_loop = g_main_loop_new(nullptr, FALSE);
  GtkPlatform m_platform;
  std::unique_ptr<FirstFrameProbe> m_probe;
  std::unique_ptr<BlankStageWatch> m_blankWatch;
  bool m_playerFailed = false;
  bool m_pageLeft = false;
  int m_status = 0;
};

}  // namespace

WindowLayer* OpenGtkLayer(WindowLayerHost& host, const WindowLayerOptions& options) {
  g_host = &host;
  RendererDecision renderer;
  Geometry geometry;
  if (!StartGtk(options, renderer) || !EmbeddingGeometry(options, geometry)) return nullptr;
  return new GtkLayer(options, PlatformOptions(host, options, renderer, geometry.embedWindow),
                      geometry);
}
