#pragma once

// SIGHUP, SIGINT, SIGQUIT and SIGTERM ask the host to stop, so that the
// view is released and its temporary files deleted, whether the terminal
// closed, the person pressed Ctrl-C or Ctrl-\, or XScreenSaver ended the hack.

// Installs the handlers. Returns a descriptor that becomes readable once a
// stop was asked for (for a main loop to watch), or -1 when none could be
// made; StopRequested works either way.
int InstallStopSignals();

bool StopRequested();
