#include "demo/DemoToolArgs.h"

#include <clocale>
#include <iostream>
#include <utility>

namespace {

void PrintUsage(const DemoToolUsage& usage, std::ostream& out) {
  out << "usage: " << usage.name << " [--] " << usage.operands << "\n"
      << "       " << usage.name << " --help\n"
      << usage.purpose << "\n";
}

bool UsageError(const DemoToolUsage& usage, const std::string& problem, int& exitCode) {
  std::cerr << usage.name << ": " << problem << "\n";
  PrintUsage(usage, std::cerr);
  exitCode = 2;
  return false;
}

}  // namespace

bool StartDemoTool(const DemoToolUsage& usage, const std::vector<std::string>& args,
                   std::vector<std::string>& operands, int& exitCode) {
  std::setlocale(LC_ALL, "");
  std::vector<std::string> found;
  bool optionsEnded = false;
  for (const std::string& arg : args) {
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      found.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help") {
      PrintUsage(usage, std::cout);
      exitCode = 0;
      return false;
    } else {
      return UsageError(usage, "unknown option '" + arg + "'", exitCode);
    }
  }
  if (found.size() != usage.operandCount) {
    return UsageError(usage,
                      "expected " + std::to_string(usage.operandCount) + " operand" +
                          (usage.operandCount == 1 ? "" : "s") + ", got " +
                          std::to_string(found.size()),
                      exitCode);
  }
  operands = std::move(found);
  return true;
}
