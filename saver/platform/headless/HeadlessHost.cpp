#include "saver/platform/headless/HeadlessHost.h"

#include <time.h>

#include <chrono>
#include <iostream>
#include <sstream>

#include "saver/lumettaView.h"
#include "saver/platform/Session.h"
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

// Holds the page back until the programs are known to be shown: a page
// that points at nothing usable is never printed.
class HeadlessSteps : public SessionSteps {
 public:
  HeadlessSteps(HeadlessPlatform& platform, std::ostringstream& pending, const LumettaOptions& options)
      : m_platform(platform), m_pending(pending), m_options(options) {}

  void accepted() override {
    std::cout << m_pending.str();
    m_platform.setOutput(std::cout);
  }

  void show(lumettaView& view, const SwfExtractionReport&) override {
    view.drawRect(view.bounds());
    if (m_options.configure) {
      std::cout << "configuration sheet offered to the host: "
                << (view.hasConfigureSheet() ? "yes" : "no") << "\n";
      if (view.configureSheet() != nullptr) view.onOkClick(nullptr);
    }
  }

  int run(lumettaView& view) override {
    Run(view, m_options);
    return 0;
  }

 private:
  HeadlessPlatform& m_platform;
  std::ostringstream& m_pending;
  const LumettaOptions& m_options;
};

}  // namespace

int RunHeadless(const LumettaOptions& options) {
  std::ostringstream pending;
  HeadlessPlatform platform(options.resources, pending);
  HeadlessSteps steps(platform, pending, options);
  return RunSession(platform, Rect{0, 0, 800, 600}, options.preview, steps);
}
