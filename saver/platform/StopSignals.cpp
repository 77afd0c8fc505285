#include "saver/platform/StopSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <initializer_list>

namespace {

volatile sig_atomic_t g_stopRequested = 0;
int g_wakeFds[2] = {-1, -1};

void RequestStop(int) {
  g_stopRequested = 1;
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
  for (int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) sigaction(signal, &action, nullptr);
  return g_wakeFds[0];
}

bool StopRequested() { return g_stopRequested != 0; }
