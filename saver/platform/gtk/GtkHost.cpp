#include "saver/platform/gtk/GtkHost.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "saver/SwfFiles.h"
#include "saver/lumettaView.h"
#include "saver/platform/HostReport.h"
#include "saver/platform/ResourceFolders.h"
#include "saver/platform/StopSignals.h"
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

// The X window to draw in, if any: -window-id, else $XSCREENSAVER_WINDOW
// unless -window asks for our own, else the root window for -root.
std::optional<unsigned long> EmbedWindow(const LumettaOptions& options) {
  if (options.windowId) return options.windowId;
  if (!options.window) {
    if (const char* env = std::getenv("XSCREENSAVER_WINDOW")) {
      if (auto id = ParseWindowId(env)) return id;
      std::cerr << "lumetta: ignoring XSCREENSAVER_WINDOW='" << Printable(env, 100)
                << "', not a window id\n";
    }
  }
  if (options.root) return GDK_WINDOW_XID(gdk_get_default_root_window());
  return std::nullopt;
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

struct Session {
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  int status = 0;
  ~Session() { g_main_loop_unref(loop); }
  void stop() { g_main_loop_quit(loop); }
};

// When the X side fails under us. Xlib ends the process once its handler
// for a lost connection returns, and GDK's handler for an X error it did
// not expect ends it with _exit: neither path releases the view, so the
// extracted programs are deleted here first.
struct XFailureWatch {
  XErrorHandler gdkHandler = nullptr;
  unsigned long embedWindow = 0;  // the window given to us
  unsigned long plugWindow = 0;   // ours, inside it
  bool lastErrorWasAGoneWindow = false;
} g_xWatch;

[[noreturn]] void FailOnX(const std::string& why) {
  std::cerr << "lumetta: " << why << std::endl;
  DeleteSwfFiles();
  _exit(1);
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

}  // namespace

int RunGtk(const LumettaOptions& options) {
  g_log_set_writer_func(WriteLog, nullptr, nullptr);
  // Embedding in another program's window and the snapshots are X11's.
  gdk_set_allowed_backends("x11");
  // Decided before the toolkit opens the display, which it then sets up
  // for OpenGL only when the web engine composites.
  Display* asked = options.renderer == LumettaRendererChoice::automatic ? XOpenDisplay(nullptr)
                                                                         : nullptr;
  const RendererDecision renderer =
      DecideRenderer(options.renderer, asked != nullptr ? ProbeDisplayOpenGL(asked) : DisplayOpenGL{});
  PrepareGtkForPlayer(renderer.compositing);
  g_glDisabledOnPurpose = !renderer.compositing;
  const bool opened = gtk_init_check(nullptr, nullptr);
  // Only now: a server whose last client leaves resets, and refuses
  // connections meanwhile.
  if (asked != nullptr) XCloseDisplay(asked);
  if (!opened) {
    std::cerr << "lumetta: cannot open the X display '"
              << Printable(std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "", 100)
              << "'; try --platform headless\n";
    return 1;
  }
  WatchForXFailures();

  GtkPlatformOptions platformOptions;
  platformOptions.resources = options.resources;
  platformOptions.shareFolder = ShareFolder();
  platformOptions.fullscreen = options.fullscreen;
  platformOptions.sound = options.sound;
  platformOptions.network = options.network;
  // Before any web view exists: the web engine's settings follow it.
  platformOptions.renderer = renderer;
  if (options.verbose) std::cerr << Printable(DescribeDecision(platformOptions.renderer)) << "\n";

  bool preview = options.preview;
  WindowSize size = options.windowSize.value_or(preview ? WindowSize{200, 150} : WindowSize{800, 600});
  if (const auto embed = EmbedWindow(options)) {
    if (!ForeignWindowSize(*embed, size.width, size.height)) {
      std::cerr << "lumetta: there is no X window " << Hex(*embed) << "\n";
      return 1;
    }
    platformOptions.embedWindow = *embed;
    g_xWatch.embedWindow = *embed;
    preview = preview || SmallerThanItsMonitor(*embed, size.width, size.height);
  }

  Session session;
  GtkPlatform platform(platformOptions);
  SetSpecialSchemeObserver([](const std::string& url, bool served) {
    // A page may ask for thousands; the first ones say what it loads.
    static int shown = 0;
    if (++shown > kMostRequestsShown) {
      if (shown == kMostRequestsShown + 1) std::cout << "(further requests are not shown)\n";
      return;
    }
    std::cout << (served ? "served " : "refused ") << Printable(url, kLongestShown) << " ("
              << Elapsed() << ")\n";
  });
  std::unique_ptr<FirstFrameProbe> probe;
  std::unique_ptr<BlankStageWatch> blankWatch;
  bool playerFailed = false;
  bool pageLeft = false;
  platform.setCloseListener([&session] { session.stop(); });
  platform.setLeaveListener([&pageLeft](const std::string& url) {
    if (pageLeft) return;
    pageLeft = true;
    std::cerr << "lumetta: the page tried to leave for " << Printable(url, kLongestShown)
              << "; it stays on the saver's page\n";
  });
  platform.setMessageListener([&](const std::string& message) {
    std::cout << "page: " << Printable(message, kLongestShown) << " (" << Elapsed() << ")\n";
    // The page says it once per player; the person is told once. The host
    // shows something of its own instead when we end with status 1.
    if (message.rfind("failed ", 0) == 0 && !playerFailed) {
      playerFailed = true;
      session.status = 1;
      std::cerr << "lumetta: the player cannot show the program: "
                << Printable(message.substr(7), kLongestShown) << "\n";
    }
    if (message.rfind("loaded ", 0) == 0) {
      if (probe) probe->start();
      if (!blankWatch) {
        blankWatch = std::make_unique<BlankStageWatch>(
            platform.mainWebView(), kBlankStageMilliseconds, [&](const std::string& error) {
              if (playerFailed) return;
              session.status = 1;
              std::cerr << "lumetta: the player shows nothing of the program: "
                        << Printable(error, kLongestShown) << "\n";
            });
      }
    }
  });

  SwfExtractionReport extraction;
  {
    lumettaView view(platform);
    if (!view.initWithFrame(Rect{0, 0, static_cast<double>(size.width),
                                 static_cast<double>(size.height)},
                            preview)) {
      std::cerr << "lumetta: the view could not be created\n";
      return 1;
    }
    extraction = view.lastExtraction();
    // Released before anything is shown; that deletes whatever was written.
    if (!ReportExtractionProblem(extraction)) return 1;
    PrintExtraction(extraction, std::cout);
    std::cout << "showing the " << (preview ? "preview" : "main") << " program in a " << size.width
              << "x" << size.height << " "
              << (platformOptions.embedWindow != 0 ? "X window given to us" : "window") << "\n";
    if (GdkWindow* plug = platformOptions.embedWindow != 0 ? gtk_widget_get_window(platform.window())
                                                           : nullptr)
      g_xWatch.plugWindow = GDK_WINDOW_XID(plug);

    if (!options.snapshot.empty()) {
      probe = std::make_unique<FirstFrameProbe>(
          platform.mainWebView(), options.snapshot,
          [] { std::cout << "first frame drawn after " << Elapsed() << "\n"; },
          [&](bool saved) {
            if (saved) {
              std::cout << "snapshot: " << Printable(options.snapshot) << "\n";
            } else {
              std::cerr << "lumetta: the snapshot could not be saved to " << Printable(options.snapshot)
                        << "\n";
              session.status = 1;
            }
          });
    }
    if (options.configure) {
      if (SheetWindow* sheet = view.configureSheet()) {
        if (!extraction.settings.unpacked)
          platform.showSheetNotice(*sheet, "This package's form has no settings program:\n"
                                           "there is nothing to set.");
      } else {
        std::cerr << "lumetta: the configuration sheet could not be loaded\n";
      }
    }

    guint timer = 0;
    if (options.seconds) {
      // Above the web engine's sources: a page that keeps the engine busy
      // does not hold the stop back.
      timer = g_timeout_add_full(G_PRIORITY_HIGH, static_cast<guint>(*options.seconds * 1000),
                                 [](gpointer s) -> gboolean {
                                   static_cast<Session*>(s)->stop();
                                   return G_SOURCE_REMOVE;
                                 }, &session, nullptr);
    }
    guint stopWatch = 0;
    const int stopFd = InstallStopSignals(true);
    if (stopFd >= 0) {
      stopWatch = g_unix_fd_add_full(G_PRIORITY_HIGH, stopFd, G_IO_IN,
                                     [](gint, GIOCondition, gpointer s) -> gboolean {
                                       static_cast<Session*>(s)->stop();
                                       return G_SOURCE_REMOVE;
                                     }, &session, nullptr);
    }

    view.startAnimation();
    if (!StopRequested()) g_main_loop_run(session.loop);
    view.stopAnimation();
    std::cout << (StopRequested() ? "stopped by a signal" : "stopped") << " after " << Elapsed()
              << "\n";
    probe.reset();
    blankWatch.reset();
    if (timer != 0 && options.seconds && g_main_context_find_source_by_id(nullptr, timer))
      g_source_remove(timer);
    if (stopWatch != 0 && g_main_context_find_source_by_id(nullptr, stopWatch))
      g_source_remove(stopWatch);
  }  // releasing the view deletes the temporary files

  if (!ReportDeletedFiles(extraction, std::cout)) session.status = 1;
  return session.status;
}
