// lumetta: the saver view on the headless platform. It extracts the demo (or
// given) package, prints what the web view would show, runs the animation
// until interrupted or timed out, then releases the view.

#include <signal.h>
#include <time.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "saver/SaverGlobals.h"
#include "saver/lumettaView.h"
#include "saver/platform/headless/HeadlessPlatform.h"
#include "saver/platform/headless/LumettaOptions.h"

namespace {

volatile sig_atomic_t g_stopRequested = 0;

void RequestStop(int) { g_stopRequested = 1; }

void InstallStopHandlers() {
  struct sigaction action = {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

std::string DefaultResources() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "demo/resources";
  return (exe.parent_path() / ".." / "demo" / "resources").lexically_normal().string();
}

void PrintProgram(const char* label, const SwfFileReport& program, const char* absent) {
  std::cout << label;
  if (!program.unpacked) {
    std::cout << absent << "\n";
  } else if (!program.written) {
    std::cout << program.path << " (" << program.size << " bytes, COULD NOT BE WRITTEN)\n";
  } else {
    std::cout << program.path << " (" << program.size << " bytes)\n";
  }
}

void PrintExtraction(const SwfExtractionReport& report) {
  std::cout << "package: " << report.packagePath << "\n";
  if (!report.loaded) {
    std::cout << "  nothing extracted: the package does not read or holds no form\n";
    return;
  }
  PrintProgram("  main program:     ", report.full, "none could be recovered");
  const std::string previewAbsent = "none in the form; shows the main program's file " + g_preview;
  PrintProgram("  preview program:  ", report.preview, previewAbsent.c_str());
  PrintProgram("  settings program: ", report.settings, "none in the form");
}

// Drives the view's frames until the deadline or a stop signal.
void Run(lumettaView& view, const LumettaOptions& options) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto frame = std::chrono::duration<double>(view.animationTimeInterval());
  view.startAnimation();
  long frames = 0;
  while (g_stopRequested == 0) {
    if (options.seconds && Clock::now() - start >= std::chrono::duration<double>(*options.seconds))
      break;
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(frame).count();
    struct timespec pause = {static_cast<time_t>(nanos / 1000000000), static_cast<long>(nanos % 1000000000)};
    nanosleep(&pause, nullptr);  // a signal cuts it short, which is what we want
    view.animateOneFrame();
    ++frames;
  }
  view.stopAnimation();
  std::cout << (g_stopRequested != 0 ? "interrupted" : "time is up") << " after " << frames
            << " frames\n";
}

}  // namespace

int main(int argc, char** argv) {
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

  InstallStopHandlers();
  HeadlessPlatform platform(options.resources, std::cout);
  SwfExtractionReport extraction;
  int status = 0;
  {
    lumettaView view(platform);
    if (!view.initWithFrame(Rect{0, 0, 800, 600}, options.preview)) {
      std::cerr << "lumetta: the view could not be created\n";
      return 1;
    }
    extraction = view.lastExtraction();
    PrintExtraction(extraction);
    if (!extraction.loaded) {
      std::cout << std::flush;
      std::cerr << "lumetta: no package with a form could be read from " << extraction.packagePath
                << "\n";
      status = 1;
    } else {
      view.drawRect(view.bounds());
      if (options.configure) {
        std::cout << "configuration sheet offered to the host: "
                  << (view.hasConfigureSheet() ? "yes" : "no") << "\n";
        if (view.configureSheet() != nullptr) view.onOkClick(nullptr);
      }
      Run(view, options);
    }
  }  // releasing the view deletes the temporary files

  for (const SwfFileReport* program : {&extraction.full, &extraction.preview, &extraction.settings}) {
    if (!program->written) continue;
    std::error_code ec;
    const bool left = std::filesystem::exists(program->path, ec);
    std::cout << (left ? "still there: " : "deleted: ") << program->path << "\n";
    if (left) status = 1;
  }
  return status;
}
