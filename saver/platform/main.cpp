// lumetta: the saver view in a window (gtk), inside XScreenSaver's window,
// or without a display (headless), on the demo package or a given one.

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "saver/SwfFiles.h"

#include "saver/platform/GtkModule.h"
#include "saver/platform/LumettaOptions.h"
#include "saver/platform/LumettaSettings.h"
#include "saver/platform/ResourceFolders.h"
#include "saver/platform/StopSignals.h"
#include "saver/platform/TerminalText.h"
#include "saver/platform/headless/HeadlessHost.h"

namespace {

bool HasDisplay() {
  const char* display = std::getenv("DISPLAY");
  return display != nullptr && *display != '\0';
}

// An exception nobody catches (one thrown through the toolkit's C code
// cannot be) ends here: the programs are deleted before the abort.
[[noreturn]] void DeleteFilesAndAbort() {
  DeleteMadeSwfFiles();
  std::abort();
}

int Run(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  // A pipe shows progress as it happens.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  const std::vector<std::string> args(argv + 1, argv + argc);
  LumettaOptions given;
  std::string error;
  if (!ParseLumettaOptions(args, given, error)) {
    std::cerr << "lumetta: " << Printable(error) << "\nTry 'lumetta --help'.\n";
    return 2;
  }
  if (given.help) {
    std::cout << LumettaUsage();
    return 0;
  }
  const std::string settingsFile = SettingsFilePath();
  if (!given.settings.empty()) {
    if (settingsFile.empty()) {
      std::cerr << "lumetta: no settings file: neither XDG_CONFIG_HOME nor HOME is set\n";
      return 1;
    }
    for (const std::string& assignment : given.settings) {
      if (!WriteSetting(settingsFile, assignment, error)) {
        std::cerr << "lumetta: " << Printable(error) << "\n";
        return 1;
      }
    }
    std::cout << "lumetta: settings written to " << Printable(settingsFile) << "\n";
    return 0;
  }

  // The file first, the command line over it. A bad file still leaves a
  // screen to cover: it is ignored, and the demo plays.
  LumettaOptions options;
  if (!settingsFile.empty() && !ReadSettingsFile(settingsFile, options, error)) {
    std::cerr << "lumetta: " << Printable(error) << "; the settings file is ignored\n";
    options = LumettaOptions{};
  }
  const bool packageFromFile = given.resources.empty() && !options.resources.empty();
  ParseLumettaOptions(args, options, error);  // read once already
  if (packageFromFile) std::cout << "package from " << Printable(settingsFile) << "\n";
  if (options.resources.empty()) {
    options.resources = DefaultResources();
  } else if (!ResourceFolderOf(options.resources, options.resources, error)) {
    std::cerr << "lumetta: " << Printable(error) << "\n";
    return 1;
  }

  const bool hack = options.root || options.windowId || std::getenv("XSCREENSAVER_WINDOW");
  LumettaPlatformChoice platform = options.platform;
  if (platform == LumettaPlatformChoice::automatic) {
    platform = HasDisplay() || hack ? LumettaPlatformChoice::gtk : LumettaPlatformChoice::headless;
    if (platform == LumettaPlatformChoice::headless)
      std::cerr << "lumetta: no display ($DISPLAY is not set): showing what would be shown\n";
  }
  // Before the window layer starts the web engine, whose signal it leaves.
  InstallStopSignals(platform == LumettaPlatformChoice::gtk);
  return platform == LumettaPlatformChoice::gtk ? RunGtkModule(options) : RunHeadless(options);
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// GCC 12's LeakSanitizer crashes at exit reading the dynamic thread-local
// storage of the libraries the window layer brings in with dlopen; it
// skips thread-local storage as a root instead (which can only add reports).
extern "C" const char* __lsan_default_options() { return "use_tls=0"; }
#endif

int main(int argc, char** argv) {
  std::set_terminate(DeleteFilesAndAbort);
  int status = 1;
  // Caught here so that the stack unwinds and every view is released.
  try {
    status = Run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::cerr << "lumetta: out of memory\n";
  } catch (const std::exception& e) {
    std::cerr << "lumetta: " << Printable(e.what()) << "\n";
  } catch (...) {
    std::cerr << "lumetta: stopped by an unexpected error\n";
  }
  // Whatever an earlier extraction left (its paths replaced by a later
  // one, or a way out that released no view).
  DeleteMadeSwfFiles();
  FinishStopSignal();
  return status;
}
