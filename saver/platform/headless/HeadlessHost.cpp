#include "saver/platform/headless/HeadlessHost.h"

#include <time.h>

#include <chrono>
#include <iostream>
#include <sstream>

#include "saver/lumettaView.h"
#include "saver/platform/HostReport.h"
#include "saver/platform/StopSignals.h"
#include "saver/platform/headless/HeadlessPlatform.h"

namespace {

// Drives the view's frames until the deadline or a stop signal.
void Run(lumettaView& view, const LumettaOptions& options) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto frame = std::chrono::duration<double>(view.animationTimeInterval());
  view.startAnimation();
  long frames = 0;
  while (!StopRequested()) {
    if (options.seconds && Clock::now() - start >= std::chrono::duration<double>(*options.seconds))
      break;
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(frame).count();
    struct timespec pause = {static_cast<time_t>(nanos / 1000000000),
                             static_cast<long>(nanos % 1000000000)};
    nanosleep(&pause, nullptr);  // a signal cuts it short, which is what we want
    view.animateOneFrame();
    ++frames;
  }
  view.stopAnimation();
  std::cout << (StopRequested() ? "interrupted" : "time is up") << " after " << frames
            << " frames\n";
}

}  // namespace

int RunHeadless(const LumettaOptions& options) {
  // Held back until the programs are known to be shown: a page that points
  // at nothing usable is never printed.
  std::ostringstream pending;
  HeadlessPlatform platform(options.resources, pending);
  SwfExtractionReport extraction;
  int status = 0;
  {
    lumettaView view(platform);
    if (!view.initWithFrame(Rect{0, 0, 800, 600}, options.preview)) {
      std::cerr << "lumetta: the view could not be created\n";
      return 1;
    }
    extraction = view.lastExtraction();
    if (!ReportExtractionProblem(extraction)) {
      status = 1;
    } else {
      std::cout << pending.str();
      platform.setOutput(std::cout);
      PrintExtraction(extraction, std::cout);
      view.drawRect(view.bounds());
      if (options.configure) {
        std::cout << "configuration sheet offered to the host: "
                  << (view.hasConfigureSheet() ? "yes" : "no") << "\n";
        if (view.configureSheet() != nullptr) view.onOkClick(nullptr);
      }
      Run(view, options);
    }
  }  // releasing the view deletes the temporary files

  if (!ReportDeletedFiles(extraction, std::cout)) status = 1;
  return status;
}
