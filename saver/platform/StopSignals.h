#pragma once

// Signals that end the host, so that the view is released and its temporary
// files deleted on the way out:
// - SIGHUP, SIGINT, SIGQUIT and SIGTERM ask it to stop (the terminal
//   closed, the person pressed Ctrl-C or Ctrl-\, XScreenSaver ended the
//   hack); it then exits as after a normal stop;
// - every other signal whose default action ends the process without a
//   fault of its own (SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM,
//   SIGPROF, SIGXCPU, SIGIO, SIGPWR, SIGSYS, SIGTRAP, SIGSTKFLT and the
//   real-time signals) would otherwise kill it on the spot; once the files
//   are gone it ends by that same signal (FinishStopSignal), so that its
//   parent still sees what happened.
// SIGXFSZ is ignored: past the file-size limit a write fails with a reason
// instead of ending the process in the middle of it.
// A signal that was ignored when the process started is left ignored, and
// one that already had a handler keeps it.
//
// The web engine suspends its threads for garbage collection with a signal
// of its own (JavaScriptCore's: SIGUSR1, or what JSC_SIGNAL_FOR_GC names).
// A host that runs the engine leaves that signal to it, and the handlers
// are installed once only, before the engine starts: a handler put over
// the engine's leaves the collector waiting for threads that never answer.
// (Giving the engine another signal through JSC_SIGNAL_FOR_GC instead
// makes every one of its processes print an error about an option it does
// not know.)

// Installs the handlers on the first call, leaving WebEngineSignal alone
// when webEngine is set; later calls change nothing. Returns a descriptor
// that becomes readable once a stop was asked for (for a main loop to
// watch), or -1 when none could be made; StopRequested works either way.
int InstallStopSignals(bool webEngine = false);

// The signal the web engine suspends threads with: the one
// JSC_SIGNAL_FOR_GC names when it is set to a signal number, else SIGUSR1.
int WebEngineSignal();

bool StopRequested();

// The first signal that asked to stop, or 0.
int StopSignal();

// For the last step of main: when the stop came from a signal of the
// second kind, ends the process by that signal now. Returns otherwise.
void FinishStopSignal();
