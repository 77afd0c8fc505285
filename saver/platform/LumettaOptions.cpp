#include "saver/platform/LumettaOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <locale>
#include <sstream>

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
  // The decimal mark is '.' whatever the person's locale says (lumetta
  // sets it from the environment before the options are read).
  double value = 0;
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  in >> value;
  if (in.fail() || !in.eof() || !std::isfinite(value)) return false;
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

// Stores nothing: for the options lumetta accepts and has no use for.
bool Ignore(const std::string&, LumettaOptions&) { return true; }

// An option by its name without dashes. needs is what its value must be
// (null for an option that takes none); set stores a value and is false
// when the value is not what needs says.
struct OptionEntry {
  const char* name;
  const char* needs;
  bool (*set)(const std::string& value, LumettaOptions& options);
};

const OptionEntry kOptions[] = {
    {"preview", nullptr, [](const std::string&, LumettaOptions& o) { return o.preview = true; }},
    {"configure", nullptr, [](const std::string&, LumettaOptions& o) { return o.configure = true; }},
    {"fullscreen", nullptr, [](const std::string&, LumettaOptions& o) { return o.fullscreen = true; }},
    {"sound", nullptr, [](const std::string&, LumettaOptions& o) { return o.sound = true; }},
    {"network", nullptr, [](const std::string&, LumettaOptions& o) { return o.network = true; }},
    {"verbose", nullptr, [](const std::string&, LumettaOptions& o) { return o.verbose = true; }},
    {"help", nullptr, [](const std::string&, LumettaOptions& o) { return o.help = true; }},
    {"h", nullptr, [](const std::string&, LumettaOptions& o) { return o.help = true; }},
    {"set", "NAME=VALUE",
     [](const std::string& v, LumettaOptions& o) {
       o.settings.push_back(v);
       return true;
     }},
    {"resources", "a folder or a vello.dat",
     [](const std::string& v, LumettaOptions& o) {
       o.resources = v;
       return true;
     }},
    {"snapshot", "a file name",
     [](const std::string& v, LumettaOptions& o) {
       o.snapshot = v;
       return true;
     }},
    {"seconds", "a number of seconds (0 to 4294967)",
     [](const std::string& v, LumettaOptions& o) {
       double seconds = 0;
       if (!ParseSeconds(v, seconds) || seconds > kLumettaMaxSeconds) return false;
       o.seconds = seconds;
       return true;
     }},
    {"platform", "headless or gtk",
     [](const std::string& v, LumettaOptions& o) {
       if (v != "headless" && v != "gtk") return false;
       o.platform = v == "gtk" ? LumettaPlatformChoice::gtk : LumettaPlatformChoice::headless;
       return true;
     }},
    {"renderer", "auto, webgl or canvas",
     [](const std::string& v, LumettaOptions& o) {
       if (v == "auto") {
         o.renderer = LumettaRendererChoice::automatic;
       } else if (v == "webgl") {
         o.renderer = LumettaRendererChoice::webgl;
       } else if (v == "canvas") {
         o.renderer = LumettaRendererChoice::canvas;
       } else {
         return false;
       }
       return true;
     }},
    {"window-size", "WIDTHxHEIGHT (1 to 16384 each)",
     [](const std::string& v, LumettaOptions& o) {
       WindowSize size;
       if (!ParseWindowSize(v, size)) return false;
       o.windowSize = size;
       return true;
     }},
    // What XScreenSaver gives a hack.
    {"root", nullptr, [](const std::string&, LumettaOptions& o) { return o.root = true; }},
    {"window", nullptr, [](const std::string&, LumettaOptions& o) { return o.window = true; }},
    {"window-id", "an X window id (decimal or 0x...)",
     [](const std::string& v, LumettaOptions& o) {
       o.windowId = ParseWindowId(v);
       return o.windowId.has_value();
     }},
    // What a host or a programs: line may give any hack; nothing here uses them.
    {"fps", nullptr, Ignore},
    {"install", nullptr, Ignore},
    {"mono", nullptr, Ignore},
    {"visual", "a visual", Ignore},
    {"delay", "a number", Ignore},
};

const OptionEntry* FindOption(const std::string& name) {
  for (const OptionEntry& entry : kOptions)
    if (name == entry.name) return &entry;
  return nullptr;
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
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg[0] != '-') {
      error = "unexpected argument '" + arg + "'";
      return false;
    }
    const size_t equals = arg.find('=');
    const std::string spelt = arg.substr(0, equals);  // as given, for messages
    const OptionEntry* entry = FindOption(spelt.substr(spelt.rfind("--", 0) == 0 ? 2 : 1));
    if (entry == nullptr) {
      error = "unknown option '" + spelt + "'";
      return false;
    }
    std::string value;
    if (equals != std::string::npos) {
      if (entry->needs == nullptr) {
        error = "option " + spelt + " takes no value";
        return false;
      }
      value = arg.substr(equals + 1);
    } else if (entry->needs != nullptr) {
      if (i + 1 < args.size()) value = args[++i];
    }
    if (entry->needs != nullptr && value.empty()) {
      error = "option " + spelt + " needs " + entry->needs;
      return false;
    }
    if (!entry->set(value, options)) {
      error = "option " + spelt + " needs " + entry->needs + ", not '" + value + "'";
      return false;
    }
  }
  const bool hack = options.root || options.windowId.has_value();
  if (hack && options.platform == LumettaPlatformChoice::headless) {
    error = "--root and --window-id draw into an X window and need --platform gtk";
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
         "Options (each with one dash or two; a value may also follow '='):\n"
         "  --platform headless|gtk  gtk: a window whose web view plays the program;\n"
         "                   headless: no display, prints the page it would show.\n"
         "                   Default: gtk when $DISPLAY is set, else headless\n"
         "  --renderer auto|webgl|canvas  gtk: how the player draws; auto picks\n"
         "                   WebGL where OpenGL is hardware, else canvas\n"
         "  --fullscreen     gtk: cover the screen\n"
         "  --window-size WxH  gtk: the window's size in pixels (default 800x600)\n"
         "  --preview        be the small preview view (shows the preview program),\n"
         "                   in a 200x150 window unless --window-size is given\n"
         "  --configure      also open the configuration sheet (the settings\n"
         "                   program), which its OK button closes\n"
         "  --sound          gtk: let the program be heard (muted by default)\n"
         "  --network        gtk: let the main or preview program reach the network\n"
         "                   (refused by default, and always to the settings\n"
         "                   program; only programs that load from or talk to a\n"
         "                   server need it)\n"
         "  --verbose        also say how the player draws\n"
         "  --resources DIR  the package: a folder holding vello.dat, or that file\n"
         "                   (default: the settings file's, else the installed\n"
         "                   share/lumetta, or the demo package of the build)\n"
         "  --set NAME=VALUE write a setting to the settings file and exit: resources,\n"
         "                   renderer, sound or network (yes/no); an empty VALUE\n"
         "                   removes it\n"
         "  --seconds N      stop after N seconds, at most 4294967 (fractions\n"
         "                   allowed; 0 releases the view at once); default: run\n"
         "                   until stopped\n"
         "  --snapshot FILE  gtk: once the player drew its first frame, print how\n"
         "                   long that took and save the web view as a PNG\n"
         "  --help, -h       show this text\n"
         "\n"
         "As an XScreenSaver hack (--root and --window-id imply --platform gtk):\n"
         "  --root           draw on the root window, or in $XSCREENSAVER_WINDOW\n"
         "  --window         a window of our own (the default)\n"
         "  --window-id ID   draw inside the X window ID (decimal or 0x...)\n"
         "  $XSCREENSAVER_WINDOW  the window to draw in, when --window-id is not given;\n"
         "                   a window given smaller than its monitor is a settings\n"
         "                   dialog's preview, and shows the preview program\n"
         "  --fps, --install, --mono, --visual V, --delay N\n"
         "                   accepted, as every hack accepts them, and ignored\n"
         "\n"
         "Settings file: $XDG_CONFIG_HOME/lumetta/lumetta.conf (else\n"
         "~/.config/lumetta/lumetta.conf), lines NAME = VALUE as --set writes them;\n"
         "the command line wins over it.\n"
         "\n"
         "Exit status: 0 when the package was shown, 1 when it could not be\n"
         "(no package, or the player could not show its program), 2 for a bad\n"
         "command line.\n";
}
