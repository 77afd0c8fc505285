#pragma once

// Signals that end the host, so that the view is released and its temporary
// files deleted on the way out:
// - SIGHUP, SIGINT, SIGQUIT and SIGTERM ask it to stop (the terminal
//   closed, the person pressed Ctrl-C or Ctrl-\, XScreenSaver ended the
//   hack); it then exits as after a normal stop;
// - SIGPIPE (whoever read our output went away), SIGUSR1, SIGUSR2 and
//   SIGALRM would otherwise kill it on the spot; once the files are gone
//   it ends by that same signal (FinishStopSignal), so that its parent
//   still sees what happened.
// A signal that was ignored when the process started is left ignored.

// Installs the handlers. Returns a descriptor that becomes readable once a
// stop was asked for (for a main loop to watch), or -1 when none could be
// made; StopRequested works either way.
int InstallStopSignals();

bool StopRequested();

// The first signal that asked to stop, or 0.
int StopSignal();

// For the last step of main: when the stop came from a signal of the
// second kind, ends the process by that signal now. Returns otherwise.
void FinishStopSignal();
