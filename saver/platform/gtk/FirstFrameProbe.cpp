#include "saver/platform/gtk/FirstFrameProbe.h"

#include <cstdint>
#include <cstdlib>
#include <utility>

namespace {

constexpr guint kPollMilliseconds = 40;
// Long enough for a few of the player's frames after its first.
constexpr guint kSettleMilliseconds = 500;

bool Differs(std::uint32_t a, std::uint32_t b) {
  int total = 0;
  for (int shift = 0; shift < 24; shift += 8)
    total += std::abs(static_cast<int>((a >> shift) & 0xff) - static_cast<int>((b >> shift) & 0xff));
  return total > 48;
}

}  // namespace

bool SomeRowIsDrawn(cairo_surface_t* surface) {
  if (surface == nullptr || cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE)
    return false;
  cairo_surface_flush(surface);
  const int width = cairo_image_surface_get_width(surface);
  const int height = cairo_image_surface_get_height(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  for (int y = 0; y < height; ++y) {
    const auto* pixels =
        reinterpret_cast<const std::uint32_t*>(data + cairo_image_surface_get_stride(surface) * y);
    for (int x = 1; x < width; ++x)
      if (Differs(pixels[0], pixels[x])) return true;
  }
  return false;
}

FirstFrameProbe::FirstFrameProbe(WebKitWebView* view, std::string pngPath,
                                 std::function<void()> drawn, std::function<void(bool)> saved)
    : m_view(view),
      m_pngPath(std::move(pngPath)),
      m_drawn(std::move(drawn)),
      m_saved(std::move(saved)),
      m_cancellable(g_cancellable_new()) {}

FirstFrameProbe::~FirstFrameProbe() {
  if (m_timer != 0) g_source_remove(m_timer);
  g_cancellable_cancel(m_cancellable);
  g_object_unref(m_cancellable);
}

void FirstFrameProbe::start() {
  if (m_timer == 0) m_timer = g_timeout_add(kPollMilliseconds, OnTimer, this);
}

gboolean FirstFrameProbe::OnTimer(gpointer self) {
  auto* probe = static_cast<FirstFrameProbe*>(self);
  if (!probe->m_pending) probe->takeSnapshot();
  return G_SOURCE_CONTINUE;
}

void FirstFrameProbe::takeSnapshot() {
  m_pending = true;
  webkit_web_view_get_snapshot(m_view, WEBKIT_SNAPSHOT_REGION_VISIBLE,
                               WEBKIT_SNAPSHOT_OPTIONS_NONE, m_cancellable, OnSnapshot, this);
}

void FirstFrameProbe::OnSnapshot(GObject* view, GAsyncResult* result, gpointer self) {
  GError* error = nullptr;
  cairo_surface_t* surface =
      webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(view), result, &error);
  if (error != nullptr) {
    const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
    g_error_free(error);
    if (cancelled) return;  // the probe is gone
  }
  auto* probe = static_cast<FirstFrameProbe*>(self);
  probe->m_pending = false;
  if (surface == nullptr) return;

  if (!probe->m_seenDrawn) {
    if (SomeRowIsDrawn(surface)) {
      probe->m_seenDrawn = true;
      g_source_remove(probe->m_timer);
      probe->m_timer = 0;
      probe->m_drawn();
      probe->m_timer = g_timeout_add(kSettleMilliseconds, [](gpointer p) -> gboolean {
        auto* again = static_cast<FirstFrameProbe*>(p);
        again->m_timer = 0;
        again->takeSnapshot();
        return G_SOURCE_REMOVE;
      }, probe);
    }
  } else {
    const bool saved = cairo_surface_write_to_png(surface, probe->m_pngPath.c_str()) ==
                       CAIRO_STATUS_SUCCESS;
    probe->m_saved(saved);
  }
  cairo_surface_destroy(surface);
}
