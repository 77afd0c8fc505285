#pragma once

// What X windows show, as Pixels, and lumetta's own windows found by their
// titles. Included last: Xlib's macros clash with names inside GoogleTest.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "tests/lumetta/DemoPixels_test.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

// The window's picture (this display's 24-bit TrueColor visual); a null
// pixbuf when there is none to take.
inline Pixels WindowPixels(Display* display, Window window) {
  XWindowAttributes attributes = {};
  if (!XGetWindowAttributes(display, window, &attributes)) return Pixels(static_cast<GdkPixbuf*>(nullptr));
  const int width = attributes.width, height = attributes.height;
  XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), AllPlanes, ZPixmap);
  if (image == nullptr) return Pixels(static_cast<GdkPixbuf*>(nullptr));
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
  guchar* rows = gdk_pixbuf_get_pixels(pixbuf);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  for (int y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(image->data + y * image->bytes_per_line);
    for (int x = 0; x < width; ++x) {
      // 32-bit pixels read directly: a whole screen a few times a second
      // through XGetPixel costs the player CPU.
      const unsigned long pixel = image->bits_per_pixel == 32 ? row[x] : XGetPixel(image, x, y);
      guchar* p = rows + y * stride + x * 3;
      p[0] = static_cast<guchar>(pixel >> 16);
      p[1] = static_cast<guchar>(pixel >> 8);
      p[2] = static_cast<guchar>(pixel);
    }
  }
  XDestroyImage(image);
  return Pixels(pixbuf);
}

// Pictures of the window until `enough` takes one, or for at most `limit`;
// the last one taken.
template <class Enough>
Pixels PictureWhen(Display* display, Window window, Enough enough, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Pixels picture = WindowPixels(display, window);
    if (picture.pixbuf == nullptr || enough(picture) || std::chrono::steady_clock::now() >= end)
      return picture;
  }
}

// With no window manager, a top-level window is a child of the root
// window; the mapped one with that title, or 0.
inline Window FindMappedWindow(Display* display, const std::string& title) {
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  Window found = 0;
  if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) return 0;
  // A window may go between the listing and the look at it (the toolkit's
  // short-lived ones at start): such an error is no failure of the test.
  XSync(display, False);
  const auto previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  for (unsigned i = 0; i < count && found == 0; ++i) {
    XWindowAttributes attributes = {};
    char* name = nullptr;
    if (XGetWindowAttributes(display, children[i], &attributes) &&
        attributes.map_state == IsViewable && XFetchName(display, children[i], &name) &&
        name != nullptr && title == name)
      found = children[i];
    if (name != nullptr) XFree(name);
  }
  XSync(display, False);
  XSetErrorHandler(previous);
  if (children != nullptr) XFree(children);
  return found;
}

// An X window of someone else's (XScreenSaver's, a dialog's preview), mapped.
inline Window MappedWindow(Display* display, int width, int height) {
  const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0,
                                            static_cast<unsigned>(width), static_cast<unsigned>(height),
                                            0, 0, BlackPixel(display, DefaultScreen(display)));
  XMapWindow(display, window);
  XSync(display, False);
  return window;
}

// How much of a window shows a program of the demo: pixels of its
// background and of its square; and the lit pixels that are neither.
struct DemoShown {
  size_t background = 0;
  size_t square = 0;
  size_t bright = 0;
  Rgb brightest{0, 0, 0};
  int width = 0, height = 0;
  // Its background covers most of the window (the stage is letterboxed)
  // and its square is there whole.
  bool shown() const {
    const double scale = Stage(width, height).scale;
    const double square = kDemoSquareSize * scale * kDemoSquareSize * scale;
    const double stage = kDemoStageWidth * scale * kDemoStageHeight * scale;
    return this->background > (stage - square) * 0.9 && this->square > square * 0.8 &&
           this->square < square * 1.2;
  }
  std::string describe() const {
    return std::to_string(background) + " background and " + std::to_string(square) + " square pixels of " +
           std::to_string(width * height);
  }
};

inline DemoShown CountDemoPixels(Display* display, Window window, const DemoSwfStyle& style) {
  DemoShown seen;
  const Pixels picture = WindowPixels(display, window);
  if (picture.pixbuf == nullptr) return seen;
  seen.width = picture.width();
  seen.height = picture.height();
  seen.background = CountPixels(picture, [&](const Rgb& c) { return Near(style.background, c); });
  seen.square = CountPixels(picture, [&](const Rgb& c) { return Near(style.square, c); });
  const auto most = [](const Rgb& c) { return std::max({c.red, c.green, c.blue}); };
  seen.bright = CountPixels(picture, [&](const Rgb& c) {
    if (!Lit(c) || Near(style.background, c) || Near(style.square, c)) return false;
    if (most(c) > most(seen.brightest)) seen.brightest = c;
    return true;
  });
  return seen;
}

// Waits until the window shows the program, looking every `every`; the
// seconds that took, or -1. Each picture before that which holds a lit
// pixel (before the stage shows: after, that is the program's drawing) is
// added to lit.
inline double WaitForDemo(Display* display, Window window, const DemoSwfStyle& style,
                          std::chrono::seconds limit, DemoShown& seen,
                          std::vector<std::string>* lit = nullptr,
                          std::chrono::milliseconds every = std::chrono::milliseconds(200)) {
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < limit) {
    seen = CountDemoPixels(display, window, style);
    const double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (seen.shown()) return now;
    if (lit != nullptr && seen.bright > 0 && seen.background == 0)
      lit->push_back(std::to_string(now) + " s: " + std::to_string(seen.bright) +
                     " bright pixels, the brightest " + Describe(seen.brightest));
    std::this_thread::sleep_for(every);
  }
  return -1;
}
