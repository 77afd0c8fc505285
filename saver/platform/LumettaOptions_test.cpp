#include "saver/platform/LumettaOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

TEST(LumettaOptions, DefaultsAndEveryOptionInBothSpellings) {
  LumettaOptions defaults;
  std::string error;
  ASSERT_TRUE(ParseLumettaOptions({}, defaults, error));
  EXPECT_FALSE(defaults.preview || defaults.configure || defaults.help || defaults.sound ||
               defaults.fullscreen || defaults.windowSize || defaults.windowId);
  EXPECT_TRUE(defaults.resources.empty());
  EXPECT_FALSE(defaults.seconds.has_value());  // until interrupted
  EXPECT_EQ(defaults.platform, LumettaPlatformChoice::automatic);
  EXPECT_EQ(defaults.renderer, LumettaRenderer::automatic);
  for (const auto& [word, renderer] : {std::pair{"webgl", LumettaRenderer::webgl},
                                       {"canvas", LumettaRenderer::canvas},
                                       {"auto", LumettaRenderer::automatic}}) {
    LumettaOptions options;
    ASSERT_TRUE(ParseLumettaOptions({"--renderer=canvas", "--renderer", word}, options, error));
    EXPECT_EQ(options.renderer, renderer) << word;
  }

  for (const Args& args :
       {Args{"--preview", "--configure", "--resources", "/r", "--seconds", "2.5"},
        Args{"--seconds=2.5", "--resources=/r", "--configure", "--preview"}}) {
    LumettaOptions options;
    ASSERT_TRUE(ParseLumettaOptions(args, options, error)) << error;
    EXPECT_TRUE(options.preview && options.configure);
    EXPECT_EQ(options.resources, "/r");
    EXPECT_EQ(options.seconds, 2.5);
  }
  for (const auto& [text, value] : {std::pair{"0", 0.0}, {".5", 0.5}, {"10.", 10.0}}) {
    LumettaOptions options;
    ASSERT_TRUE(ParseLumettaOptions({"--seconds", text}, options, error)) << text;
    EXPECT_EQ(options.seconds, value) << text;
  }
}

TEST(LumettaOptions, BadLinesAreRefusedWithAClearMessage) {
  const std::string notSeconds = "option --seconds needs a number of seconds (0 or more), not ";
  const std::pair<Args, std::string> cases[] = {
      {{"--seconds"}, "option --seconds needs a number of seconds"},
      {{"--seconds", "soon"}, notSeconds + "'soon'"},
      {{"--seconds", "-1"}, notSeconds + "'-1'"},
      {{"--seconds", "1e3"}, notSeconds + "'1e3'"},
      {{"--seconds", "."}, notSeconds + "'.'"},
      {{"--seconds", "1.2.3"}, notSeconds + "'1.2.3'"},
      {{"--resources"}, "option --resources needs a directory"},
      {{"--resources="}, "option --resources needs a directory"},
      {{"--preview=yes"}, "option --preview takes no value"},
      {{"--fast"}, "unknown option '--fast'"},
      {{"-p"}, "unknown option '-p'"},
      {{"resources"}, "unexpected argument 'resources'"},
      {{"--platform", "cocoa"}, "option --platform needs headless or gtk, not 'cocoa'"},
      {{"--platform"}, "option --platform needs headless or gtk"},
      {{"--renderer", "opengl"}, "option --renderer needs auto, webgl or canvas, not 'opengl'"},
      {{"--renderer"}, "option --renderer needs auto, webgl or canvas"},
      {{"--window-size", "800"}, "option --window-size needs WIDTHxHEIGHT (1 to 16384 each), not '800'"},
      {{"--window-size", "0x600"}, "option --window-size needs WIDTHxHEIGHT (1 to 16384 each), not '0x600'"},
      {{"--window-size", "800x-6"}, "option --window-size needs WIDTHxHEIGHT (1 to 16384 each), not '800x-6'"},
      {{"--window-size", "99999x1"}, "option --window-size needs WIDTHxHEIGHT (1 to 16384 each), not '99999x1'"},
      {{"-window-id", "0"}, "option -window-id needs an X window id (decimal or 0x...), not '0'"},
      {{"-window-id", "0xZZ"}, "option -window-id needs an X window id (decimal or 0x...), not '0xZZ'"},
      {{"-window-id", "-5"}, "option -window-id needs an X window id (decimal or 0x...), not '-5'"},
      {{"-window-id"}, "option -window-id needs an X window id"},
      {{"--snapshot="}, "option --snapshot needs a file name"},
      {{"--platform", "headless", "-root"}, "-root and -window-id draw into an X window and need --platform gtk"},
      {{"--sound=on"}, "option --sound takes no value"},
  };
  for (const auto& [args, message] : cases) {
    LumettaOptions options;
    std::string error;
    EXPECT_FALSE(ParseLumettaOptions(args, options, error)) << args[0];
    EXPECT_EQ(error, message);
  }
}

TEST(LumettaOptions, WindowAndHackOptions) {
  LumettaOptions options;
  std::string error;
  ASSERT_TRUE(ParseLumettaOptions({"--platform=gtk", "--fullscreen", "--sound", "--window-size",
                                   "640x480", "--snapshot", "/s.png", "-root", "-window",
                                   "-window-id", "0x1a00003"},
                                  options, error))
      << error;
  EXPECT_EQ(options.platform, LumettaPlatformChoice::gtk);
  EXPECT_TRUE(options.fullscreen && options.sound && options.root && options.window);
  EXPECT_EQ(options.windowSize, (WindowSize{640, 480}));
  EXPECT_EQ(options.snapshot, "/s.png");
  EXPECT_EQ(options.windowId, 0x1a00003ul);

  EXPECT_EQ(ParseWindowId("12345"), 12345ul);
  EXPECT_EQ(ParseWindowId("0X2A"), 42ul);
  EXPECT_FALSE(ParseWindowId(" 42"));
  EXPECT_FALSE(ParseWindowId("42 "));
}

TEST(LumettaOptions, HelpNamesEveryOption) {
  LumettaOptions options;
  std::string error;
  ASSERT_TRUE(ParseLumettaOptions({"--help"}, options, error));
  EXPECT_TRUE(options.help);
  const std::string usage = LumettaUsage();
  for (const char* option :
       {"--preview", "--configure", "--resources DIR", "--seconds N", "--help",
        "--platform headless|gtk", "--fullscreen", "--window-size WxH", "--sound",
        "--snapshot FILE", "-root", "-window ", "-window-id ID", "XSCREENSAVER_WINDOW"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
}

}  // namespace
