#pragma once

#include <optional>
#include <string>
#include <vector>

// The command line of lumetta, the saver host.

enum class LumettaPlatformChoice {
  automatic,  // gtk when there is a display, else headless
  headless,
  gtk,
};

// How the player draws: WebGL or a 2D canvas; automatic asks the display.
enum class LumettaRendererChoice {
  automatic,
  webgl,
  canvas,
};

// The longest --seconds: the gtk host's timer counts milliseconds in 32 bits
// (about 49.7 days).
constexpr double kLumettaMaxSeconds = 4294967;

struct WindowSize {
  int width = 0;
  int height = 0;
  bool operator==(const WindowSize&) const = default;
};

struct LumettaOptions {
  LumettaPlatformChoice platform = LumettaPlatformChoice::automatic;
  LumettaRendererChoice renderer = LumettaRendererChoice::automatic;
  bool preview = false;     // run the small preview view
  bool configure = false;   // also open the configuration sheet
  bool fullscreen = false;  // gtk: cover the screen
  bool sound = false;       // gtk: the player is muted unless asked
  bool network = false;     // gtk: the page may reach the network
  bool verbose = false;     // also say how the player draws
  bool help = false;
  std::optional<WindowSize> windowSize;  // unset: 800x600, or 200x150 for a preview
  std::string resources;                 // empty: the default resource folder
  std::optional<double> seconds;         // unset: until interrupted or closed
  std::string snapshot;  // gtk: PNG of the web view once the player drew
  std::vector<std::string> settings;  // --set NAME=VALUE: write the settings file, show nothing

  // Options XScreenSaver gives a hack.
  bool root = false;                     // --root: draw on the root window
  bool window = false;                   // --window: a window of our own
  std::optional<unsigned long> windowId;  // --window-id ID: draw in that window

  bool operator==(const LumettaOptions&) const = default;
};

// Parses the arguments after the program name. Every option may be spelt
// with one dash or two, as XScreenSaver's own hacks accept theirs, and a
// value follows as the next argument or after '='. The options XScreenSaver
// or a programs: line may give any hack (fps, install, mono, visual V,
// delay N) are accepted and ignored. False with a message for the user in
// error, naming the option, when the line makes no sense.
bool ParseLumettaOptions(const std::vector<std::string>& args, LumettaOptions& options,
                         std::string& error);

// An X window id as XScreenSaver writes it: decimal or 0x hexadecimal, not 0.
std::optional<unsigned long> ParseWindowId(const std::string& text);

std::string LumettaUsage();
