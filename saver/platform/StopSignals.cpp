#include "saver/platform/StopSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>

namespace {

volatile sig_atomic_t g_stopSignal = 0;
int g_wakeFds[2] = {-1, -1};
bool g_installed = false;
int g_leftToEngine = 0;  // the signal the web engine was left, or 0

constexpr int kStopSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
constexpr int kEndingSignals[] = {SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU,
                                  SIGIO,   SIGPWR,  SIGSYS,  SIGTRAP, SIGSTKFLT};

bool IsEndingSignal(int signal) {
  if (signal == 0 || signal == g_leftToEngine) return false;
  for (int ending : kEndingSignals)
    if (signal == ending) return true;
  return signal >= SIGRTMIN && signal <= SIGRTMAX;
}

void RequestStop(int signal) {
  if (g_stopSignal == 0) g_stopSignal = signal;
  if (g_wakeFds[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = write(g_wakeFds[1], &byte, 1);
  }
}

}  // namespace

int WebEngineSignal() {
  if (const char* set = std::getenv("JSC_SIGNAL_FOR_GC")) {
    char* end = nullptr;
    const long value = std::strtol(set, &end, 10);
    if (end != set && *end == '\0' && value > 0 && value <= SIGRTMAX) return static_cast<int>(value);
  }
  return SIGUSR1;
}

int InstallStopSignals(bool webEngine) {
  if (g_installed) return g_wakeFds[0];
  g_installed = true;
  if (webEngine) g_leftToEngine = WebEngineSignal();
  if (pipe2(g_wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) g_wakeFds[0] = g_wakeFds[1] = -1;
  signal(SIGXFSZ, SIG_IGN);

  struct sigaction action = {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  // Only a signal left at its default is taken: one ignored when we were
  // started stays ignored, as whoever started us asked (nohup; a daemon
  // that ignores SIGPIPE for the hacks it runs), and a handler someone put
  // there stays theirs.
  const auto take = [&action](int signal) {
    if (signal == g_leftToEngine) return;
    struct sigaction now = {};
    if (sigaction(signal, nullptr, &now) != 0 || now.sa_handler != SIG_DFL) return;
    sigaction(signal, &action, nullptr);
  };
  for (int signal : kStopSignals) take(signal);
  for (int signal = 1; signal <= SIGRTMAX; ++signal)
    if (IsEndingSignal(signal)) take(signal);
  return g_wakeFds[0];
}

bool StopRequested() { return g_stopSignal != 0; }

int StopSignal() { return g_stopSignal; }

void FinishStopSignal() {
  const int signal = g_stopSignal;
  if (!IsEndingSignal(signal)) return;
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal);
}
