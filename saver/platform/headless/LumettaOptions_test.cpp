#include "saver/platform/headless/LumettaOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

TEST(LumettaOptions, DefaultsAndEveryOptionInBothSpellings) {
  LumettaOptions defaults;
  std::string error;
  ASSERT_TRUE(ParseLumettaOptions({}, defaults, error));
  EXPECT_FALSE(defaults.preview || defaults.configure || defaults.help);
  EXPECT_TRUE(defaults.resources.empty());
  EXPECT_FALSE(defaults.seconds.has_value());  // until interrupted

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
  };
  for (const auto& [args, message] : cases) {
    LumettaOptions options;
    std::string error;
    EXPECT_FALSE(ParseLumettaOptions(args, options, error)) << args[0];
    EXPECT_EQ(error, message);
  }
}

TEST(LumettaOptions, HelpNamesEveryOption) {
  LumettaOptions options;
  std::string error;
  ASSERT_TRUE(ParseLumettaOptions({"--help"}, options, error));
  EXPECT_TRUE(options.help);
  const std::string usage = LumettaUsage();
  for (const char* option :
       {"--preview", "--configure", "--resources DIR", "--seconds N", "--help"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
}

}  // namespace
