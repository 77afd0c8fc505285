#pragma once

#include <string>

#include "saver/platform/LumettaOptions.h"

// The gtk layer is a module of its own, loaded only when a window is
// shown: GTK, WebKitGTK and their ~170 libraries cost lumetta some 150 ms
// of relocations at start, which a run without a window (headless, --help,
// a refused option) should not pay.

// The module's file name, and the function it exports: RunGtk.
inline constexpr char kGtkModuleName[] = "lumetta-gtk.so";
inline constexpr char kGtkModuleEntry[] = "lumetta_run_gtk";
using GtkModuleEntry = int (*)(const LumettaOptions& options);

// Where the module lies for a program living in programFolder: installed
// (the program in <prefix>/bin), in <prefix>/<libdir>/lumetta/modules; in the build
// tree, beside the program. Empty when programFolder is.
std::string GtkModulePathFor(const std::string& programFolder);

// Loads the module beside this program and runs RunGtk from it; when it
// cannot be loaded, says why on standard error and returns 1.
int RunGtkModule(const LumettaOptions& options);
