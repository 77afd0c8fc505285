#pragma once

// A PNG read for checking its pixels.

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <string>

#include "demo/DemoSwf.h"

struct Pixels {
  GdkPixbuf* pixbuf = nullptr;  // null when the file did not read
  explicit Pixels(const std::string& png) { pixbuf = gdk_pixbuf_new_from_file(png.c_str(), nullptr); }
  // Adopts the reference it is given.
  explicit Pixels(GdkPixbuf* image) : pixbuf(image) {}
  ~Pixels() {
    if (pixbuf) g_object_unref(pixbuf);
  }
  Pixels(const Pixels&) = delete;
  Pixels& operator=(const Pixels&) = delete;
  int width() const { return gdk_pixbuf_get_width(pixbuf); }
  int height() const { return gdk_pixbuf_get_height(pixbuf); }
  Rgb at(int x, int y) const {
    const guchar* p = gdk_pixbuf_get_pixels(pixbuf) + y * gdk_pixbuf_get_rowstride(pixbuf) +
                      x * gdk_pixbuf_get_n_channels(pixbuf);
    return Rgb{p[0], p[1], p[2]};
  }
};
