// What lumetta calls in the module it loads (platform/GtkModule.h).
#include <type_traits>

#include "saver/platform/GtkModule.h"
#include "saver/platform/gtk/GtkHost.h"

extern "C" __attribute__((visibility("default"))) int lumetta_run_gtk(const LumettaOptions& options) {
  return RunGtk(options);
}

// The type the loader casts to is the one defined here.
static_assert(std::is_same_v<decltype(&lumetta_run_gtk), GtkModuleEntry>);
