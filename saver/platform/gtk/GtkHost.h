#pragma once

#include "saver/platform/WindowLayer.h"

// The gtk layer: starts GTK on X11 and makes a GtkPlatform in a window of
// its own or inside the X window given (WindowLayerOptions). Null, having
// said why through host, when the display or that window is not there.
// host must outlive the layer.
WindowLayer* OpenGtkLayer(WindowLayerHost& host, const WindowLayerOptions& options);
