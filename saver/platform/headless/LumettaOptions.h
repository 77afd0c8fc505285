#pragma once

#include <optional>
#include <string>
#include <vector>

// The command line of the headless saver host.
struct LumettaOptions {
  bool preview = false;    // run the small preview view
  bool configure = false;  // also open the configuration sheet
  bool help = false;
  std::string resources;         // empty: the demo package beside the program
  std::optional<double> seconds;  // unset: until interrupted
};

// Parses the arguments after the program name. False with a message for the
// user in error when they make no sense.
bool ParseLumettaOptions(const std::vector<std::string>& args, LumettaOptions& options,
                         std::string& error);

std::string LumettaUsage();
