#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The bundled demo programs: small uncompressed SWF movies of our own
// making, a square sliding over a coloured stage.

struct Rgb {
  std::uint8_t red, green, blue;
};

struct DemoSwfStyle {
  const char* fileName;  // e.g. "main.swf"
  Rgb background;
  Rgb square;
  int frames;  // 1 for a still picture
};

// Stage size in pixels; 20 twips make a pixel.
inline constexpr int kDemoStageWidth = 550;
inline constexpr int kDemoStageHeight = 400;
inline constexpr int kDemoSquareSize = 100;
inline constexpr int kDemoFrameRate = 30;
inline constexpr int kDemoSwfVersion = 10;

// The three programs of the demo form.
inline constexpr DemoSwfStyle kDemoMain{"main.swf", {0x1a, 0x23, 0x7e}, {0xff, 0x8c, 0x1a}, 30};
inline constexpr DemoSwfStyle kDemoPreview{"preview.swf", {0x0b, 0x3d, 0x2e}, {0x7c, 0xe0, 0x6a}, 15};
inline constexpr DemoSwfStyle kDemoSettings{"settings.swf", {0x3a, 0x3a, 0x3a}, {0x4a, 0x90, 0xe2}, 1};

std::vector<unsigned char> MakeDemoSwf(const DemoSwfStyle& style);

// An ActionScript 3 movie of the demo's stage whose code is corrupt: the
// player loads it, logs why it cannot run it, and shows nothing but the
// background.
std::vector<unsigned char> MakeCorruptCodeSwf(const Rgb& background);

// An ActionScript 1 movie of the demo's stage for tests of what a program
// may do to the page it plays in; it acts once, in its first frame. Unless
// script is empty it calls flash.external.ExternalInterface.call(script):
// the player runs script, a JavaScript expression whose value is a
// function, in the page. Then, unless url is empty, getURL(url, target).
std::vector<unsigned char> MakePageActionSwf(const Rgb& background, const std::string& script,
                                             const std::string& url = "",
                                             const std::string& target = "");
