#include "saver/platform/headless/LumettaOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

TEST(LumettaOptions, DefaultsRunTheFullViewUntilInterrupted) {
  LumettaOptions options;
  std::string error;
  ASSERT_TRUE(ParseLumettaOptions({}, options, error));
  EXPECT_FALSE(options.preview);
  EXPECT_FALSE(options.help);
  EXPECT_TRUE(options.resources.empty());
  EXPECT_FALSE(options.seconds.has_value());
}

TEST(LumettaOptions, ReadsEveryOptionInBothSpellings) {
  for (const Args& args : {Args{"--preview", "--configure", "--resources", "/r", "--seconds", "2.5"},
                           Args{"--seconds=2.5", "--resources=/r", "--configure", "--preview"}}) {
    LumettaOptions options;
    std::string error;
    ASSERT_TRUE(ParseLumettaOptions(args, options, error)) << error;
    EXPECT_TRUE(options.preview);
    EXPECT_TRUE(options.configure);
    EXPECT_EQ(options.resources, "/r");
    ASSERT_TRUE(options.seconds.has_value());
    EXPECT_EQ(*options.seconds, 2.5);
  }
}

TEST(LumettaOptions, SecondsAcceptsWholeAndFractionalNumbers) {
  const std::pair<const char*, double> cases[] = {{"0", 0}, {"3", 3}, {".5", 0.5}, {"10.", 10}};
  for (const auto& [text, value] : cases) {
    LumettaOptions options;
    std::string error;
    ASSERT_TRUE(ParseLumettaOptions({"--seconds", text}, options, error)) << text;
    EXPECT_EQ(*options.seconds, value) << text;
  }
}

struct BadLine {
  Args args;
  const char* message;
};

TEST(LumettaOptions, BadLinesAreRefusedWithAClearMessage) {
  const BadLine cases[] = {
      {{"--seconds"}, "option --seconds needs a number of seconds"},
      {{"--seconds", "soon"}, "option --seconds needs a number of seconds (0 or more), not 'soon'"},
      {{"--seconds", "-1"}, "option --seconds needs a number of seconds (0 or more), not '-1'"},
      {{"--seconds", "1e3"}, "option --seconds needs a number of seconds (0 or more), not '1e3'"},
      {{"--seconds", "."}, "option --seconds needs a number of seconds (0 or more), not '.'"},
      {{"--seconds", "1.2.3"}, "option --seconds needs a number of seconds (0 or more), not '1.2.3'"},
      {{"--resources"}, "option --resources needs a directory"},
      {{"--resources="}, "option --resources needs a directory"},
      {{"--preview=yes"}, "option --preview takes no value"},
      {{"--fast"}, "unknown option '--fast'"},
      {{"-p"}, "unknown option '-p'"},
      {{"resources"}, "unexpected argument 'resources'"},
  };
  for (const BadLine& c : cases) {
    LumettaOptions options;
    std::string error;
    EXPECT_FALSE(ParseLumettaOptions(c.args, options, error)) << c.args[0];
    EXPECT_EQ(error, c.message);
  }
}

TEST(LumettaOptions, HelpNamesEveryOption) {
  LumettaOptions options;
  std::string error;
  ASSERT_TRUE(ParseLumettaOptions({"--help"}, options, error));
  EXPECT_TRUE(options.help);
  const std::string usage = LumettaUsage();
  for (const char* option : {"--preview", "--configure", "--resources DIR", "--seconds N", "--help"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
}

}  // namespace
