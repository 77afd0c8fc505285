#pragma once

#include <cstddef>
#include <string>

// What an SWF header says about the program it starts: "FWS" (plain),
// "CWS" (zlib) or "ZWS" (LZMA) signature, version byte, and the length of
// the whole file, which the header gives directly (FWS), through the end
// of the zlib stream (CWS) or through the compressed length (ZWS).
struct SwfCheck {
  std::string problem;     // empty when the header is sound
  size_t fileLength = 0;   // the program's own length, valid when sound

  bool ok() const { return problem.empty(); }
};

// Checks the n bytes at data as the start of an SWF program. A sound
// program may be followed by other bytes (fileLength <= n); one whose
// header promises more than n bytes, or whose zlib body does not inflate
// to the uncompressed length it states, is not sound.
SwfCheck CheckSwf(const unsigned char* data, size_t n);
