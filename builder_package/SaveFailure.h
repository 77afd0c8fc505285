#pragma once

#include <string>

// Why the last Save failed: tools show it to a person after the target's
// name; tests assert the cause rather than just a false result.
struct SaveFailure {
  // A phrase to follow the target's name: "cannot write: No space left on
  // device", "is a FIFO, not a regular file".
  std::string problem;

  bool failed() const { return !problem.empty(); }
  void Clear() { *this = SaveFailure(); }
};
