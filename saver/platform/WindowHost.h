#pragma once

#include "saver/platform/LumettaOptions.h"
#include "saver/platform/WindowLayer.h"

// Runs the saver view in the window a loaded window layer shows: in a
// window of its own, or inside the X window XScreenSaver gives
// (--window-id, $XSCREENSAVER_WINDOW, --root). It plays until the window
// is closed, a stop signal arrives or the time is up, then releases the
// view. Returns the exit status.
int RunWindowLayer(const WindowLayerEntry& entry, const LumettaOptions& options);
