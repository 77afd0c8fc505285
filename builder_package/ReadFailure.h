#pragma once

#include <string>

// Why the last Read or Load of a record failed: where reading stopped, in
// which record and field, and what was wrong. Tools show it to a person;
// tests assert the cause rather than just a false result.
struct ReadFailure {
  long long offset = -1;  // byte position in the file, -1 when unknown
  std::string record;     // e.g. "form 2", "header", "files entry 1"
  std::string field;      // e.g. "m_formName"
  std::string problem;    // e.g. "cut short", "length -1 is negative"

  bool failed() const { return !problem.empty(); }

  // "at byte 1234, form 2, m_formName: length 99999 exceeds the 12 bytes
  // left"; the parts that are unknown are left out; empty when nothing
  // failed.
  std::string ToString() const;

  void Clear() { *this = ReadFailure(); }
};
