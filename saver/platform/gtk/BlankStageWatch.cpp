#include "saver/platform/gtk/BlankStageWatch.h"

#include <jsc/jsc.h>

#include <utility>

#include "saver/platform/gtk/FirstFrameProbe.h"
#include "saver/platform/gtk/PlayerScript.h"

BlankStageWatch::BlankStageWatch(WebKitWebView* view, unsigned delayMilliseconds,
                                 std::function<void(const std::string&)> blank)
    : m_view(view), m_blank(std::move(blank)), m_cancellable(g_cancellable_new()) {
  m_timer = g_timeout_add(delayMilliseconds, OnTimer, this);
}

BlankStageWatch::~BlankStageWatch() {
  if (m_timer != 0) g_source_remove(m_timer);
  g_cancellable_cancel(m_cancellable);
  g_object_unref(m_cancellable);
}

gboolean BlankStageWatch::OnTimer(gpointer self) {
  auto* watch = static_cast<BlankStageWatch*>(self);
  watch->m_timer = 0;
  webkit_web_view_get_snapshot(watch->m_view, WEBKIT_SNAPSHOT_REGION_VISIBLE,
                               WEBKIT_SNAPSHOT_OPTIONS_NONE, watch->m_cancellable, OnSnapshot, watch);
  return G_SOURCE_REMOVE;
}

void BlankStageWatch::OnSnapshot(GObject* view, GAsyncResult* result, gpointer self) {
  // Without a snapshot (cancelled: the watch is gone; or the view cannot
  // be drawn, as while hidden) nothing is known, so nothing is said.
  cairo_surface_t* surface = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(view), result, nullptr);
  if (surface == nullptr) return;
  const bool drawn = SomeRowIsDrawn(surface);
  cairo_surface_destroy(surface);
  if (drawn) return;
  auto* watch = static_cast<BlankStageWatch*>(self);
  webkit_web_view_evaluate_javascript(watch->m_view, PlayerErrorExpression().c_str(), -1, nullptr,
                                      nullptr, watch->m_cancellable, OnPlayerError, watch);
}

void BlankStageWatch::OnPlayerError(GObject* view, GAsyncResult* result, gpointer self) {
  JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, nullptr);
  if (value == nullptr) return;
  std::string error;
  if (jsc_value_is_string(value)) {
    gchar* text = jsc_value_to_string(value);
    error = text;
    g_free(text);
  }
  g_object_unref(value);
  if (!error.empty()) static_cast<BlankStageWatch*>(self)->m_blank(error);
}
