#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

// Puts the web view's picture on the screen with one copy per frame.
//
// GTK 3 paints each frame of a double-buffered window into a buffer the X
// server makes for that frame: it clears it, the view's picture is put into
// it, the buffer is copied to the window and freed. On a software X server
// that is three full-window passes of the server's for every frame the
// player draws. Here the window is not double-buffered; the view paints
// into an image of our own, shared with the server where it allows, and the
// image is copied to the window in one request: nothing half-drawn is ever
// on the window, as with the toolkit's own buffer.
//
// For views the web engine draws without compositing (a picture in
// memory), not for the engine's OpenGL compositor. Requires: window is the
// view's top-level window (a GtkWindow or GtkPlug) and paints nothing of its
// own (app-paintable), the view its only child.
void PaintWebViewDirectly(GtkWidget* window, WebKitWebView* view);
