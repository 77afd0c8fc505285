#include "saver/platform/StopSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

volatile sig_atomic_t g_stopSignal = 0;
int g_wakeFds[2] = {-1, -1};
bool g_installed = false;
int g_engineSignal = 0;

constexpr int kStopSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
constexpr int kEndingSignals[] = {SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU,
                                  SIGIO,   SIGPWR,  SIGSYS,  SIGTRAP, SIGSTKFLT};

bool IsEndingSignal(int signal) {
  if (signal == 0 || signal == WebEngineSignal()) return false;
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
  if (g_engineSignal != 0) return g_engineSignal;
  if (const char* set = std::getenv("JSC_SIGNAL_FOR_GC")) {
    char* end = nullptr;
    const long value = std::strtol(set, &end, 10);
    if (end != set && *end == '\0' && value > 0 && value <= SIGRTMAX) {
      g_engineSignal = static_cast<int>(value);
      return g_engineSignal;
    }
  }
  g_engineSignal = SIGRTMAX;
  return g_engineSignal;
}

int InstallStopSignals() {
  if (g_installed) return g_wakeFds[0];
  g_installed = true;
  // Before any thread or engine exists: the engine reads it when it starts.
  setenv("JSC_SIGNAL_FOR_GC", std::to_string(WebEngineSignal()).c_str(), 1);
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
    if (signal == WebEngineSignal()) return;
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
