// The one symbol the gtk module exports (platform/WindowLayer.h).
#include "saver/platform/WindowLayer.h"
#include "saver/platform/gtk/GtkHost.h"

extern "C" __attribute__((visibility("default"))) const WindowLayerEntry lumetta_window_layer = {
    kWindowLayerAbi, OpenGtkLayer};
