// String records from hostile bytes, scrambled and plain: a record that
// reads writes back to a record that reads to the same text.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "system/SysFile.h"

namespace {

void Check(const uint8_t* data, size_t size, bool scramble) {
  if (size == 0) return;
  FILE* in = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (in == nullptr) return;
  std::wstring text;
  bool read;
  {
    CSysFile file(in);
    read = file.ReadString(text, scramble);
  }
  std::fclose(in);
  if (!read) return;

  char* buffer = nullptr;
  size_t length = 0;
  FILE* out = open_memstream(&buffer, &length);
  if (out == nullptr) return;
  {
    CSysFile file(out);
    if (!file.WriteString(text, scramble)) __builtin_trap();
  }
  std::fclose(out);
  FILE* again = fmemopen(buffer, length, "rb");
  std::wstring back;
  {
    CSysFile file(again);
    if (!file.ReadString(back, scramble) || back != text) __builtin_trap();
  }
  std::fclose(again);
  std::free(buffer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Check(data, size, true);
  Check(data, size, false);
  return 0;
}
