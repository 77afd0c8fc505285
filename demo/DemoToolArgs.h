#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The command line of the demo tools: a fixed list of operands, "--help",
// and "--" before operands that begin with "-".

struct DemoToolUsage {
  const char* name;      // the tool's name, as messages begin with it
  const char* operands;  // the operands' synopsis, e.g. "DIR"
  const char* purpose;   // one line on what the tool makes
  size_t operandCount;
};

// Sets the locale from the environment, then reads args (the arguments
// after the program name).
// Returns true, with operands filled, when the tool should go on.
// Returns false with exitCode 0 after printing the usage on standard output
// for "--help", or with exitCode 2 after printing what was wrong and the
// usage on standard error for an unknown option or a wrong operand count.
bool StartDemoTool(const DemoToolUsage& usage, const std::vector<std::string>& args,
                   std::vector<std::string>& operands, int& exitCode);
