#pragma once

#include <string>

#include "saver/platform/LumettaOptions.h"
#include "saver/platform/WindowLayer.h"

// The gtk layer is a module of its own, loaded only when a window is
// shown: GTK, WebKitGTK and their ~170 libraries cost lumetta some 150 ms
// of relocations at start, which a run without a window (headless, --help,
// a refused option) should not pay. The two meet through WindowLayer.h
// only.

// Where the module lies for a program living in programFolder: installed
// (the program in <prefix>/bin), in <prefix>/<libdir>/lumetta/modules; in the build
// tree, beside the program. Empty when programFolder is.
std::string GtkModulePathFor(const std::string& programFolder);

// The entry of the window layer module at path, once its ABI number is
// this program's; else null, having said why on standard error.
const WindowLayerEntry* LoadWindowLayer(const std::string& path);

// Loads the module beside this program and runs the view in its window;
// when it cannot be loaded, says why on standard error and returns 1.
int RunGtkModule(const LumettaOptions& options);
