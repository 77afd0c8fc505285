#include "saver/platform/gtk/DirectPaint.h"

namespace {

// The view's picture of the last frame, as big as the view.
struct Picture {
  cairo_surface_t* image = nullptr;
  int width = 0;
  int height = 0;
  int scale = 0;
  ~Picture() {
    if (image != nullptr) cairo_surface_destroy(image);
  }
};

constexpr char kPictureKey[] = "lumetta-direct-picture";

// Widgets the engine puts over the page (a script's dialog) are drawn over
// the view's picture and must be blended into it.
bool HasVisibleChildren(GtkWidget* view) {
  bool any = false;
  gtk_container_forall(
      GTK_CONTAINER(view),
      [](GtkWidget* child, gpointer found) {
        if (gtk_widget_is_drawable(child)) *static_cast<bool*>(found) = true;
      },
      &any);
  return any;
}

// The image to paint into, made again when the view's size changes; null
// if none can be made.
cairo_surface_t* ImageFor(GtkWidget* view, Picture& picture) {
  const int width = gtk_widget_get_allocated_width(view);
  const int height = gtk_widget_get_allocated_height(view);
  const int scale = gtk_widget_get_scale_factor(view);
  if (picture.image == nullptr || picture.width != width || picture.height != height ||
      picture.scale != scale) {
    if (picture.image != nullptr) cairo_surface_destroy(picture.image);
    picture = {};
    // Opaque, in device pixels; on X11 in memory shared with the server.
    cairo_surface_t* image = gdk_window_create_similar_image_surface(
        gtk_widget_get_window(view), CAIRO_FORMAT_RGB24, width * scale, height * scale, scale);
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
      cairo_surface_destroy(image);
      return nullptr;
    }
    picture.image = image;
    picture.width = width;
    picture.height = height;
    picture.scale = scale;
  }
  return picture.image;
}

gboolean OnDraw(GtkWidget* view, cairo_t* cr, gpointer) {
  auto* picture = static_cast<Picture*>(g_object_get_data(G_OBJECT(view), kPictureKey));
  cairo_surface_t* image = picture != nullptr ? ImageFor(view, *picture) : nullptr;
  const auto drawView = GTK_WIDGET_GET_CLASS(view)->draw;
  if (image == nullptr) {
    drawView(view, cr);
  } else {
    // Waits until the server has read the previous frame from the image.
    cairo_surface_flush(image);
    cairo_t* inner = cairo_create(image);
    cairo_rectangle_list_t* clip = cairo_copy_clip_rectangle_list(cr);
    if (clip->status == CAIRO_STATUS_SUCCESS) {
      for (int i = 0; i < clip->num_rectangles; ++i) {
        const cairo_rectangle_t& r = clip->rectangles[i];
        cairo_rectangle(inner, r.x, r.y, r.width, r.height);
      }
      cairo_clip(inner);
    }
    cairo_rectangle_list_destroy(clip);
    if (HasVisibleChildren(view)) {
      // Under the page, as on the window itself.
      cairo_set_source_rgb(inner, 0, 0, 0);
      cairo_paint(inner);
    } else {
      // The page is opaque: its picture replaces the last one, a copy
      // rather than a blend.
      cairo_set_operator(inner, CAIRO_OPERATOR_SOURCE);
    }
    drawView(view, inner);
    cairo_destroy(inner);
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_paint(cr);
  }
  // Without a buffer of the toolkit's, nothing else sends what was drawn
  // on the window to the server: cairo may hold it in memory of its own.
  cairo_surface_flush(cairo_get_target(cr));
  return TRUE;  // drawn; the engine's own handler is not run again
}

}  // namespace

void PaintWebViewDirectly(GtkWidget* window, WebKitWebView* view) {
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_widget_set_double_buffered(window, FALSE);
  G_GNUC_END_IGNORE_DEPRECATIONS
  g_object_set_data_full(G_OBJECT(view), kPictureKey, new Picture,
                         [](gpointer picture) { delete static_cast<Picture*>(picture); });
  g_signal_connect(view, "draw", G_CALLBACK(OnDraw), nullptr);
}
