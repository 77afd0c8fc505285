#include "saver/platform/StopSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>


namespace {

volatile sig_atomic_t g_stopSignal = 0;
int g_wakeFds[2] = {-1, -1};

constexpr int kStopSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
constexpr int kEndingSignals[] = {SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM};

void RequestStop(int signal) {
  if (g_stopSignal == 0) g_stopSignal = signal;
  if (g_wakeFds[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = write(g_wakeFds[1], &byte, 1);
  }
}

}  // namespace

int InstallStopSignals() {
  if (g_wakeFds[0] < 0 && pipe2(g_wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    g_wakeFds[0] = g_wakeFds[1] = -1;
  }
  struct sigaction action = {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  // A signal ignored when we were started stays ignored: whoever started
  // us asked for that (nohup; a daemon that ignores SIGPIPE for the hacks
  // it runs, whose output then goes nowhere without ending them).
  const auto take = [&action](int signal) {
    struct sigaction now = {};
    if (sigaction(signal, nullptr, &now) == 0 && now.sa_handler == SIG_IGN) return;
    sigaction(signal, &action, nullptr);
  };
  for (int signal : kStopSignals) take(signal);
  for (int signal : kEndingSignals) take(signal);
  return g_wakeFds[0];
}

bool StopRequested() { return g_stopSignal != 0; }

int StopSignal() { return g_stopSignal; }

void FinishStopSignal() {
  const int signal = g_stopSignal;
  for (int ending : kEndingSignals) {
    if (signal != ending) continue;
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
}
