#include "saver/platform/LumettaOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

// A whole decimal number of seconds, fractions allowed; no signs, no
// exponents, no "inf".
bool ParseSeconds(const std::string& text, double& seconds) {
  if (text.empty()) return false;
  bool digit = false;
  bool point = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (!digit) return false;
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(value)) return false;
  seconds = value;
  return true;
}

// 1 to 5 decimal digits, 1 to 16384.
bool ParseSide(const std::string& text, int& side) {
  if (text.empty() || text.size() > 5) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  side = std::atoi(text.c_str());
  return side >= 1 && side <= 16384;
}

// "WIDTHxHEIGHT".
bool ParseWindowSize(const std::string& text, WindowSize& size) {
  const size_t x = text.find('x');
  return x != std::string::npos && ParseSide(text.substr(0, x), size.width) &&
         ParseSide(text.substr(x + 1), size.height);
}

bool TakesValue(const std::string& option) {
  return option == "--resources" || option == "--seconds" || option == "--platform" ||
         option == "--window-size" || option == "--snapshot" || option == "--renderer" ||
         option == "-window-id" || option == "--window-id";
}

std::string NeedsValueMessage(const std::string& option) {
  if (option == "--seconds") return "option --seconds needs a number of seconds";
  if (option == "--resources") return "option --resources needs a directory";
  if (option == "--platform") return "option --platform needs headless or gtk";
  if (option == "--window-size") return "option --window-size needs WIDTHxHEIGHT";
  if (option == "--snapshot") return "option --snapshot needs a file name";
  if (option == "--renderer") return "option --renderer needs auto, webgl or canvas";
  return "option " + option + " needs an X window id";
}

}  // namespace

std::optional<unsigned long> ParseWindowId(const std::string& text) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const unsigned long id = std::strtoul(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || id == 0) return std::nullopt;
  return id;
}

bool ParseLumettaOptions(const std::vector<std::string>& args, LumettaOptions& options,
                         std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string value;
    bool hasValue = false;
    if (arg.rfind("--", 0) == 0) {
      const size_t equals = arg.find('=');
      if (equals != std::string::npos) {
        value = arg.substr(equals + 1);
        arg.resize(equals);
        hasValue = true;
      }
    }
    const bool takesValue = TakesValue(arg);
    if (hasValue && !takesValue) {
      error = "option " + arg + " takes no value";
      return false;
    }
    if (takesValue && !hasValue) {
      if (i + 1 >= args.size()) {
        error = NeedsValueMessage(arg);
        return false;
      }
      value = args[++i];
    }

    if (arg == "--preview") {
      options.preview = true;
    } else if (arg == "--configure") {
      options.configure = true;
    } else if (arg == "--fullscreen") {
      options.fullscreen = true;
    } else if (arg == "--sound") {
      options.sound = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--resources" || arg == "--snapshot") {
      if (value.empty()) {
        error = NeedsValueMessage(arg);
        return false;
      }
      (arg == "--resources" ? options.resources : options.snapshot) = value;
    } else if (arg == "--seconds") {
      double seconds = 0;
      if (!ParseSeconds(value, seconds)) {
        error = "option --seconds needs a number of seconds (0 or more), not '" + value + "'";
        return false;
      }
      options.seconds = seconds;
    } else if (arg == "--platform") {
      if (value == "headless") {
        options.platform = LumettaPlatformChoice::headless;
      } else if (value == "gtk") {
        options.platform = LumettaPlatformChoice::gtk;
      } else {
        error = "option --platform needs headless or gtk, not '" + value + "'";
        return false;
      }
    } else if (arg == "--renderer") {
      if (value == "auto") {
        options.renderer = LumettaRenderer::automatic;
      } else if (value == "webgl") {
        options.renderer = LumettaRenderer::webgl;
      } else if (value == "canvas") {
        options.renderer = LumettaRenderer::canvas;
      } else {
        error = "option --renderer needs auto, webgl or canvas, not '" + value + "'";
        return false;
      }
    } else if (arg == "--window-size") {
      WindowSize size;
      if (!ParseWindowSize(value, size)) {
        error = "option --window-size needs WIDTHxHEIGHT (1 to 16384 each), not '" + value + "'";
        return false;
      }
      options.windowSize = size;
    } else if (arg == "-root") {
      options.root = true;
    } else if (arg == "-window") {
      options.window = true;
    } else if (arg == "-window-id" || arg == "--window-id") {
      options.windowId = ParseWindowId(value);
      if (!options.windowId) {
        error = "option " + arg + " needs an X window id (decimal or 0x...), not '" + value + "'";
        return false;
      }
    } else if (arg.rfind("-", 0) == 0) {
      error = "unknown option '" + arg + "'";
      return false;
    } else {
      error = "unexpected argument '" + arg + "'";
      return false;
    }
  }
  const bool hack = options.root || options.windowId.has_value();
  if (hack && options.platform == LumettaPlatformChoice::headless) {
    error = "-root and -window-id draw into an X window and need --platform gtk";
    return false;
  }
  return true;
}

std::string LumettaUsage() {
  return "Usage: lumetta [OPTIONS]\n"
         "\n"
         "Plays the first form of DIR/vello.dat as a screen saver. The view\n"
         "extracts the form's main, preview and settings programs to temporary\n"
         "files in $TMPDIR (or /tmp), shows the main program (or the preview)\n"
         "and deletes the files when it stops: on Ctrl-C, SIGTERM, SIGHUP,\n"
         "SIGQUIT, when its window is closed or after N seconds.\n"
         "\n"
         "Options:\n"
         "  --platform headless|gtk  gtk: a window whose web view plays the program;\n"
         "                   headless: no display, prints the page it would show.\n"
         "                   Default: gtk when $DISPLAY is set, else headless\n"
         "  --fullscreen     gtk: cover the screen\n"
         "  --window-size WxH  gtk: the window's size in pixels (default 800x600)\n"
         "  --preview        be the small preview view (shows the preview program),\n"
         "                   in a 200x150 window unless --window-size is given\n"
         "  --configure      also open the configuration sheet (the settings\n"
         "                   program), which its OK button closes\n"
         "  --sound          gtk: let the program be heard (muted by default)\n"
         "  --resources DIR  folder holding vello.dat (default: the installed\n"
         "                   share/lumetta, or the demo package of the build)\n"
         "  --seconds N      stop after N seconds (fractions allowed; 0 releases\n"
         "                   the view at once); default: run until stopped\n"
         "  --snapshot FILE  gtk: once the player drew its first frame, print how\n"
         "                   long that took and save the web view as a PNG\n"
         "  --renderer auto|webgl|canvas  gtk: how the player draws; auto (the\n"
         "                   default) takes WebGL where OpenGL is done by hardware\n"
         "                   and canvas on a software rasteriser\n"
         "  --help           show this text\n"
         "\n"
         "As an XScreenSaver hack (these imply --platform gtk):\n"
         "  -root            draw on the root window, or in $XSCREENSAVER_WINDOW\n"
         "  -window          a window of our own (the default)\n"
         "  -window-id ID    draw inside the X window ID (decimal or 0x...);\n"
         "                   smaller than 320x240 it is the preview\n"
         "  $XSCREENSAVER_WINDOW  the window to draw in, when -window-id is not given\n"
         "\n"
         "Exit status: 0 when the package was shown, 1 when it could not be,\n"
         "2 for a bad command line.\n";
}
