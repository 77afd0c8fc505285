#pragma once

#include <cstdint>
#include <string>

// What the subcommands read is a regular file: a FIFO would block the read
// (or feed it without end), a device such as /dev/zero reads as empty or
// never ends. Checked by name before anything opens it.
struct InputCheck {
  enum Kind { kRegular, kUnreachable, kFolder, kNotAFile } kind = kUnreachable;
  // Why it is not a regular file, to follow "path: ": the system's reason
  // when it cannot be looked at, "it is a folder", or "it is a FIFO, not a
  // regular file" (and likewise for devices and sockets). Empty when it is.
  std::string why;
  std::uint64_t size = 0;  // of a regular file
};

// Links are followed.
InputCheck CheckInput(const std::string& path);

// The most bytes one item of a package holds: its sizes are signed 32-bit.
constexpr std::uint64_t kMostItemBytes = 0x7FFFFFFF;
