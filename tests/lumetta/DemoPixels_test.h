#pragma once

// Pixels of lumetta's snapshots and screens: does a picture show the demo
// program where the program puts its background and its square?

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "demo/DemoSwf.h"

struct Pixels {
  GdkPixbuf* pixbuf = nullptr;
  explicit Pixels(const std::string& png) { pixbuf = gdk_pixbuf_new_from_file(png.c_str(), nullptr); }
  // Adopts the reference it is given.
  explicit Pixels(GdkPixbuf* image) : pixbuf(image) {}
  Pixels(Pixels&& other) noexcept : pixbuf(std::exchange(other.pixbuf, nullptr)) {}
  ~Pixels() {
    if (pixbuf) g_object_unref(pixbuf);
  }
  int width() const { return gdk_pixbuf_get_width(pixbuf); }
  int height() const { return gdk_pixbuf_get_height(pixbuf); }
  Rgb at(int x, int y) const {
    const guchar* p = gdk_pixbuf_get_pixels(pixbuf) + y * gdk_pixbuf_get_rowstride(pixbuf) +
                      x * gdk_pixbuf_get_n_channels(pixbuf);
    return Rgb{p[0], p[1], p[2]};
  }
};

inline bool Near(const Rgb& a, const Rgb& b) {
  return std::abs(a.red - b.red) <= 8 && std::abs(a.green - b.green) <= 8 &&
         std::abs(a.blue - b.blue) <= 8;
}

// Brighter than a dark screen: a channel above 24.
inline bool Lit(const Rgb& c) { return std::max({c.red, c.green, c.blue}) > 24; }

// How many pixels of the image's top rows (all when rows < 0), every
// step-th across and down, pass the test.
template <class Test>
size_t CountPixels(const Pixels& image, Test test, int step = 1, int rows = -1) {
  size_t count = 0;
  for (int y = 0; y < (rows < 0 ? image.height() : std::min(rows, image.height())); y += step)
    for (int x = 0; x < image.width(); x += step) count += test(image.at(x, y));
  return count;
}

inline std::string Describe(const Rgb& c) {
  char text[16];
  snprintf(text, sizeof text, "#%02x%02x%02x", c.red, c.green, c.blue);
  return text;
}

// Where the colour runs along row y: first and last x, and how many.
struct Run {
  int first = -1;
  int last = -1;
  int count = 0;
};
inline Run RunOf(const Pixels& image, int y, const Rgb& colour) {
  Run run;
  for (int x = 0; x < image.width(); ++x) {
    if (!Near(image.at(x, y), colour)) continue;
    if (run.first < 0) run.first = x;
    run.last = x;
    ++run.count;
  }
  return run;
}

// The stage (550x400 units) letterboxed into a view: scale and offsets.
struct Stage {
  double scale, left, top;
  Stage(int width, int height) {
    scale = std::min(width / double(kDemoStageWidth), height / double(kDemoStageHeight));
    left = (width - kDemoStageWidth * scale) / 2;
    top = (height - kDemoStageHeight * scale) / 2;
  }
  int x(double stageX) const { return static_cast<int>(left + stageX * scale); }
  int y(double stageY) const { return static_cast<int>(top + stageY * scale); }
};

// Checks a snapshot of a view of that size showing the demo program of
// that style: its background over the stage, its square in the band the
// program slides it along (half-way down, full width of the square), and
// nothing of the square above or below that band.
inline void ExpectDemoProgram(const std::string& png, int width, int height, const DemoSwfStyle& style) {
  Pixels image(png);
  ASSERT_NE(image.pixbuf, nullptr) << "no snapshot at " << png;
  ASSERT_EQ(image.width(), width);
  ASSERT_EQ(image.height(), height);
  const Stage stage(width, height);
  const double squareTop = (kDemoStageHeight - kDemoSquareSize) / 2.0;
  const double squareBottom = squareTop + kDemoSquareSize;

  for (const auto& [sx, sy] : {std::pair{10.0, 10.0}, {540.0, 10.0}, {10.0, 390.0},
                               {540.0, 390.0}, {275.0, squareTop / 2}, {275.0, 380.0}}) {
    EXPECT_TRUE(Near(image.at(stage.x(sx), stage.y(sy)), style.background))
        << "stage (" << sx << "," << sy << ") is " << Describe(image.at(stage.x(sx), stage.y(sy)))
        << ", not the background " << Describe(style.background) << " in " << png;
  }
  const Run middle = RunOf(image, stage.y((squareTop + squareBottom) / 2), style.square);
  const double side = kDemoSquareSize * stage.scale;
  EXPECT_NEAR(middle.count, side, 3) << "square " << Describe(style.square) << " across the middle in " << png;
  EXPECT_NEAR(middle.last - middle.first + 1, side, 3) << "the square is one piece";
  EXPECT_GE(middle.first, stage.x(0) - 1);
  EXPECT_LE(middle.last, stage.x(kDemoStageWidth) + 1);
  for (double sy : {squareTop - 4, squareBottom + 4}) {
    EXPECT_EQ(RunOf(image, stage.y(sy), style.square).count, 0)
        << "square colour at stage row " << sy << " in " << png;
  }
}
