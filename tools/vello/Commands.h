#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

// Each subcommand registers its options on the program and hands back what
// runs it once the command line parsed. run returns the exit code or
// throws ToolError.
struct Subcommand {
  CLI::App* app;
  std::function<int()> run;
};

Subcommand AddInfoCommand(CLI::App& program);
Subcommand AddExtractCommand(CLI::App& program);
Subcommand AddPackCommand(CLI::App& program);
Subcommand AddUpgradeCommand(CLI::App& program);
Subcommand AddVerifyCommand(CLI::App& program);
Subcommand AddSetSwfVersionCommand(CLI::App& program);

// The end of every subcommand's --help: an example and the exit codes.
std::string HelpFooter(const std::string& example);
