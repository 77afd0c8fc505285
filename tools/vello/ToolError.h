#pragma once

#include <stdexcept>
#include <string>

// The exit codes of every subcommand, as documented in their --help.
enum ExitCode {
  kExitOk = 0,
  kExitFaults = 1,      // the command ran and found (or met) faults
  kExitUsage = 2,       // the command line is wrong
  kExitUnreadable = 3,  // an input cannot be read or is no package
};

// A failure that ends a subcommand: the message names the file and what is
// wrong with it; main prints it and exits with the code.
class ToolError : public std::runtime_error {
 public:
  ToolError(ExitCode code, const std::string& message) : std::runtime_error(message), m_code(code) {}
  ExitCode Code() const { return m_code; }

 private:
  ExitCode m_code;
};

// "strerror" of the current errno, for messages about files.
std::string LastSystemError();
