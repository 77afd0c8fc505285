#include "saver/platform/LumettaOptions.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Args = std::vector<std::string>;

std::string Join(const Args& args) {
  std::string line;
  for (const std::string& arg : args) line += (line.empty() ? "" : " ") + arg;
  return line;
}

// Each line, in every spelling a person or a host may use, gives the
// options the change makes to the defaults.
TEST(LumettaOptions, EverySpellingOfEveryOption) {
  using Change = std::function<void(LumettaOptions&)>;
  const std::pair<std::vector<Args>, Change> cases[] = {
      {{{}}, [](LumettaOptions&) {}},
      {{{"--preview", "--configure", "--fullscreen", "--sound"},
        {"-preview", "-configure", "-fullscreen", "-sound"}},
       [](LumettaOptions& o) { o.preview = o.configure = o.fullscreen = o.sound = true; }},
      {{{"--help"}, {"-help"}, {"-h"}, {"--h"}}, [](LumettaOptions& o) { o.help = true; }},
      {{{"--network", "--verbose"}, {"-network", "-verbose"}},
       [](LumettaOptions& o) { o.network = o.verbose = true; }},
      {{{"--resources", "/r", "--snapshot", "/s.png"},
        {"--resources=/r", "--snapshot=/s.png"},
        {"-resources", "/r", "-snapshot=/s.png"}},
       [](LumettaOptions& o) {
         o.resources = "/r";
         o.snapshot = "/s.png";
       }},
      {{{"--seconds", "2.5"}, {"--seconds=2.5"}, {"-seconds", "2.5"}, {"-seconds=2.5"}},
       [](LumettaOptions& o) { o.seconds = 2.5; }},
      {{{"--seconds", "0"}}, [](LumettaOptions& o) { o.seconds = 0.0; }},
      {{{"--seconds", ".5"}}, [](LumettaOptions& o) { o.seconds = 0.5; }},
      {{{"--seconds", "10."}}, [](LumettaOptions& o) { o.seconds = 10.0; }},
      // The longest the timer holds, to the millisecond.
      {{{"--seconds", "4294967"}, {"--seconds", "4294967.000"}},
       [](LumettaOptions& o) { o.seconds = 4294967.0; }},
      {{{"--platform", "gtk"}, {"-platform=gtk"}},
       [](LumettaOptions& o) { o.platform = LumettaPlatformChoice::gtk; }},
      {{{"--platform", "headless"}},
       [](LumettaOptions& o) { o.platform = LumettaPlatformChoice::headless; }},
      {{{"--renderer", "auto"}, {"--renderer=auto"}}, [](LumettaOptions&) {}},
      {{{"--renderer", "webgl"}, {"-renderer", "webgl"}},
       [](LumettaOptions& o) { o.renderer = LumettaRendererChoice::webgl; }},
      {{{"--renderer=canvas"}, {"-renderer=canvas"}},
       [](LumettaOptions& o) { o.renderer = LumettaRendererChoice::canvas; }},
      {{{"--window-size", "640x480"}, {"-window-size=640x480"}},
       [](LumettaOptions& o) { o.windowSize = WindowSize{640, 480}; }},
      // Repeatable, in order.
      {{{"--set", "sound=yes", "-set=renderer=canvas"}},
       [](LumettaOptions& o) { o.settings = {"sound=yes", "renderer=canvas"}; }},
      // What XScreenSaver 5 and 6 and their settings dialogs give a hack.
      {{{"-root"}, {"--root"}}, [](LumettaOptions& o) { o.root = true; }},
      {{{"-window"}, {"--window"}}, [](LumettaOptions& o) { o.window = true; }},
      {{{"-window-id", "0x1a00003"},
        {"--window-id", "0x1a00003"},
        {"--window-id=0x1a00003"},
        {"-window-id=0x1a00003"},
        {"--window-id", "27262979"}},
       [](LumettaOptions& o) { o.windowId = 0x1a00003ul; }},
      {{{"-window-id", "0X2A"}}, [](LumettaOptions& o) { o.windowId = 42ul; }},
      // What a host or a programs: line may add to any hack: no effect.
      {{{"--root", "-fps", "--install", "-mono", "--visual", "default", "-delay", "20000"},
        {"-root", "--fps", "-install", "--mono", "-visual=TrueColor", "--delay=0"}},
       [](LumettaOptions& o) { o.root = true; }},
  };
  for (const auto& [lines, change] : cases) {
    LumettaOptions expected;
    change(expected);
    for (const Args& args : lines) {
      LumettaOptions options;
      std::string error;
      EXPECT_TRUE(ParseLumettaOptions(args, options, error)) << Join(args) << ": " << error;
      EXPECT_TRUE(options == expected) << Join(args);
    }
  }
}

TEST(LumettaOptions, BadLinesAreRefusedNamingTheOption) {
  auto refused = [](const Args& args, const std::string& message) {
    LumettaOptions options;
    std::string error;
    EXPECT_FALSE(ParseLumettaOptions(args, options, error)) << Join(args);
    EXPECT_EQ(error, message) << Join(args);
  };
  // An option that needs a value: without one (last on the line, or empty
  // after '='), and with each bad one; named as it was spelt.
  const std::tuple<const char*, const char*, Args> needing[] = {
      // Past 4294967 the timer would wrap round to about 1 s, 0.2 s.
      {"seconds",
       "a number of seconds (0 to 4294967)",
       {"soon", "-1", "1e3", ".", "1.2.3", "4294967.5", "4294968", "12345678901234567890"}},
      {"resources", "a folder or a vello.dat", {}},
      {"snapshot", "a file name", {}},
      {"platform", "headless or gtk", {"cocoa"}},
      {"renderer", "auto, webgl or canvas", {"gl"}},
      {"window-size", "WIDTHxHEIGHT (1 to 16384 each)", {"800", "0x600", "800x-6", "99999x1"}},
      {"window-id", "an X window id (decimal or 0x...)", {"0", "0xZZ", "-5", " 42", "42 "}},
      {"visual", "a visual", {}},
      {"delay", "a number", {}},
  };
  for (const auto& [name, needs, bad] : needing) {
    const std::string one = std::string("-") + name;
    const std::string two = "-" + one;
    refused({two}, "option " + two + " needs " + needs);
    refused({one + "="}, "option " + one + " needs " + needs);
    for (const std::string& value : bad)
      refused({one, value}, "option " + one + " needs " + needs + ", not '" + value + "'");
  }
  const std::pair<Args, std::string> cases[] = {
      {{"--preview=yes"}, "option --preview takes no value"},
      {{"--sound=on"}, "option --sound takes no value"},
      {{"-root=1"}, "option -root takes no value"},
      {{"--fps=1"}, "option --fps takes no value"},
      {{"--fast"}, "unknown option '--fast'"},
      {{"-p"}, "unknown option '-p'"},
      {{"---root"}, "unknown option '---root'"},
      {{"--"}, "unknown option '--'"},
      {{"-geometry", "640x480"}, "unknown option '-geometry'"},
      {{"--root", "--frobnicate=3"}, "unknown option '--frobnicate'"},
      {{"resources"}, "unexpected argument 'resources'"},
      {{"-"}, "unexpected argument '-'"},
      {{"--platform", "headless", "-root"},
       "--root and --window-id draw into an X window and need --platform gtk"},
      {{"--platform=headless", "--window-id", "42"},
       "--root and --window-id draw into an X window and need --platform gtk"},
  };
  for (const auto& [args, message] : cases) refused(args, message);
}

TEST(LumettaOptions, HelpNamesEveryOption) {
  const std::string usage = LumettaUsage();
  for (const char* option :
       {"--preview", "--configure", "--resources DIR", "--seconds N", "--help",
        "--platform headless|gtk", "--renderer auto|webgl|canvas", "--fullscreen",
        "--window-size WxH", "--sound", "--network", "--verbose", "--snapshot FILE", "--root", "--window ",
        "--window-id ID", "XSCREENSAVER_WINDOW", "--fps", "--install", "--mono",
        "--visual V", "--delay N", "--set NAME=VALUE", "lumetta.conf", "one dash or two"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
}

}  // namespace
