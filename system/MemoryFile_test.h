#pragma once

// Streams over bytes in memory, and over a pipe, which cannot tell how
// many bytes are left, for the tests of the record readers and writers.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "system/SysFile.h"

// Runs read on a stream over the bytes (through a pipe when asked: the
// bytes must fit in its buffer), then closes it; position, when given,
// gets where the stream stopped.
template <typename Read>
bool ReadFromMemory(std::vector<unsigned char> bytes, Read read, bool pipe = false,
                    long* position = nullptr) {
  FILE* in = nullptr;
  if (pipe) {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    const bool sent = write(fds[1], bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    close(fds[1]);
    in = fdopen(fds[0], "rb");
    if (!sent) ADD_FAILURE() << "the pipe took " << bytes.size() << " bytes only in part";
  } else {
    in = fmemopen(bytes.data(), bytes.size(), "rb");
  }
  bool ok;
  {
    CSysFile file(in);
    ok = read(file);
  }
  if (position != nullptr) *position = std::ftell(in);
  std::fclose(in);
  return ok;
}

// The bytes write puts on a stream in memory; ok, when given, gets its
// result.
template <typename Write>
std::vector<unsigned char> WrittenToMemory(Write write, bool* ok = nullptr) {
  char* buffer = nullptr;
  std::size_t length = 0;
  FILE* out = open_memstream(&buffer, &length);
  bool written;
  {
    CSysFile file(out);
    written = write(file);
  }
  std::fclose(out);
  std::vector<unsigned char> bytes(buffer, buffer + length);
  std::free(buffer);
  if (ok != nullptr) *ok = written;
  return bytes;
}
