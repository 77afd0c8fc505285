// lumetta: the saver view in a window (gtk), inside XScreenSaver's window,
// or without a display (headless), on the demo package or a given one.

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "saver/platform/LumettaOptions.h"
#include "saver/platform/ResourceFolders.h"
#include "saver/platform/StopSignals.h"
#include "saver/platform/gtk/GtkHost.h"
#include "saver/platform/headless/HeadlessHost.h"

namespace {

bool HasDisplay() {
  const char* display = std::getenv("DISPLAY");
  return display != nullptr && *display != '\0';
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  // A pipe shows progress as it happens.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  LumettaOptions options;
  std::string error;
  if (!ParseLumettaOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::cerr << "lumetta: " << error << "\nTry 'lumetta --help'.\n";
    return 2;
  }
  if (options.help) {
    std::cout << LumettaUsage();
    return 0;
  }
  if (options.resources.empty()) options.resources = DefaultResources();

  InstallStopSignals();
  const bool hack = options.root || options.windowId || std::getenv("XSCREENSAVER_WINDOW");
  LumettaPlatformChoice platform = options.platform;
  if (platform == LumettaPlatformChoice::automatic) {
    platform = HasDisplay() || hack ? LumettaPlatformChoice::gtk : LumettaPlatformChoice::headless;
    if (platform == LumettaPlatformChoice::headless)
      std::cerr << "lumetta: no display ($DISPLAY is not set): showing what would be shown\n";
  }
  return platform == LumettaPlatformChoice::gtk ? RunGtk(options) : RunHeadless(options);
}
