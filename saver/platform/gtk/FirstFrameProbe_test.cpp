#include "saver/platform/gtk/FirstFrameProbe.h"

#include <gtest/gtest.h>

namespace {

// A 200x150 image filled with one colour, with a patch of another across
// rows [top, bottom) and columns [left, right).
cairo_surface_t* Image(double r, double g, double b, int top, int bottom, double pr, double pg, double pb,
                       int left = 80, int right = 120) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 200, 150);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, r, g, b);
  cairo_paint(cr);
  cairo_set_source_rgb(cr, pr, pg, pb);
  cairo_rectangle(cr, left, top, right - left, bottom - top);
  cairo_fill(cr);
  cairo_destroy(cr);
  return surface;
}

TEST(FirstFrameProbe, SomeRowMustHoldTwoClearlyDifferentColours) {
  const struct {
    const char* what;
    cairo_surface_t* image;
    bool drawn;
  } cases[] = {
      {"blank page", Image(1, 1, 1, 0, 0, 1, 1, 1), false},
      {"stage before its shapes", Image(0.1, 0.14, 0.5, 0, 0, 0, 0, 0), false},
      {"square across the middle", Image(0.1, 0.14, 0.5, 60, 90, 1, 0.55, 0.1), true},
      // Programs that draw nothing across the middle still get seen.
      {"square above the middle only", Image(0.1, 0.14, 0.5, 10, 40, 1, 0.55, 0.1), true},
      {"square in the last row only", Image(0.1, 0.14, 0.5, 149, 150, 1, 0.55, 0.1), true},
      {"a shade too faint to count", Image(0.5, 0.5, 0.5, 60, 90, 0.52, 0.52, 0.52), false},
      // Between black bars above and below, only the stage's background:
      // every row is one colour.
      {"letterboxed stage before its shapes", Image(0, 0, 0, 10, 140, 0.1, 0.14, 0.5, 0, 200), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SomeRowIsDrawn(c.image), c.drawn) << c.what;
    cairo_surface_destroy(c.image);
  }
  EXPECT_FALSE(SomeRowIsDrawn(nullptr));
}

}  // namespace
