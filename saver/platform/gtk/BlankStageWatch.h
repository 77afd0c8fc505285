#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <string>

// Looks once, a while after the player loaded the program, whether the
// view shows anything but one colour; if not, and the player logged an
// error of its own meanwhile (PlayerScript.h keeps the first), reports that
// error: the program loaded but the player cannot draw it. A stage that is
// blank without an error is left alone: programs may start on a plain
// screen.
class BlankStageWatch {
 public:
  BlankStageWatch(WebKitWebView* view, unsigned delayMilliseconds,
                  std::function<void(const std::string& playerError)> blank);
  ~BlankStageWatch();
  BlankStageWatch(const BlankStageWatch&) = delete;
  BlankStageWatch& operator=(const BlankStageWatch&) = delete;

 private:
  static gboolean OnTimer(gpointer self);
  static void OnSnapshot(GObject* view, GAsyncResult* result, gpointer self);
  static void OnPlayerError(GObject* view, GAsyncResult* result, gpointer self);

  WebKitWebView* m_view;
  std::function<void(const std::string&)> m_blank;
  GCancellable* m_cancellable;
  guint m_timer = 0;
};
