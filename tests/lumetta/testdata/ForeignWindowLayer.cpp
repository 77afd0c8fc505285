// A module where lumetta looks for its window layer, from another build:
// its entry names another ABI number, or (NO_ENTRY) it has only the entry
// of an older kind of layer.
#include "saver/platform/WindowLayer.h"

#ifdef NO_ENTRY
extern "C" __attribute__((visibility("default"))) int lumetta_run_gtk() { return 0; }
#else
extern "C" __attribute__((visibility("default"))) const WindowLayerEntry lumetta_window_layer = {
    kWindowLayerAbi + 1, nullptr};
#endif
