#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <string>

// Watches a web view until the player has drawn: takes snapshots of it,
// a few times a second, until a row of the view holds more than one
// colour (the stage and something on it). Then it waits a moment for
// the frame to settle, saves a last snapshot as PNG and reports.
class FirstFrameProbe {
 public:
  // drawn is called once, when the first drawn snapshot is seen; saved once
  // the PNG is written (with false when it could not be).
  FirstFrameProbe(WebKitWebView* view, std::string pngPath, std::function<void()> drawn,
                  std::function<void(bool)> saved);
  ~FirstFrameProbe();
  FirstFrameProbe(const FirstFrameProbe&) = delete;
  FirstFrameProbe& operator=(const FirstFrameProbe&) = delete;

  void start();

 private:
  void takeSnapshot();
  static void OnSnapshot(GObject* view, GAsyncResult* result, gpointer self);
  static gboolean OnTimer(gpointer self);

  WebKitWebView* m_view;
  std::string m_pngPath;
  std::function<void()> m_drawn;
  std::function<void(bool)> m_saved;
  GCancellable* m_cancellable;
  guint m_timer = 0;
  bool m_seenDrawn = false;
  bool m_pending = false;
};

// True when some row of an image surface holds two clearly different
// colours. Rows, not the whole image: letterbox bars above and below a
// stage that shows only its background must not count as drawn.
bool SomeRowIsDrawn(cairo_surface_t* surface);
