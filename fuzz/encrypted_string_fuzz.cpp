// Encrypted-string records from hostile bytes, in both layouts: a record
// that reads writes back (unless its text has a unit UTF-8 cannot hold) to
// a record that reads to the same text, and its UTF-8 form deciphers to
// that text's UTF-8.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "encryption/EncryptedString.h"
#include "system/SysFile.h"
#include "system/SysStringHelper.h"

namespace {

bool ReadFrom(FILE* in, CEncryptedString& value) {
  CSysFile file(in);
  return value.Read(14, file);
}

void CheckUtf8Form(CEncryptedString& value, const std::string& utf8) {
  unsigned char* buffer = nullptr;
  int length = 0;
  if (!value.EncryptAsUTF8(&buffer, length) || buffer == nullptr) return;
  if (!value.DecryptAsUTF8(&buffer, length) || length % 8 != 0 ||
      static_cast<std::size_t>(length) <= utf8.size() ||
      std::memcmp(buffer, utf8.data(), utf8.size()) != 0 || buffer[utf8.size()] != 0)
    __builtin_trap();
  delete[] buffer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FILE* in = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (in == nullptr) return 0;
  CEncryptedString value;
  const bool read = ReadFrom(in, value);
  std::fclose(in);
  if (!read) return 0;
  const std::wstring text = value.GetString();
  std::string utf8;
  const bool convertible = CSysStringHelper::GetSingleton().NativeToUTF8(text, utf8);
  if (convertible) CheckUtf8Form(value, utf8);

  char* buffer = nullptr;
  size_t length = 0;
  FILE* out = open_memstream(&buffer, &length);
  if (out == nullptr) return 0;
  bool written;
  {
    CSysFile file(out);
    written = value.Write(14, file);
  }
  std::fclose(out);
  if (written != convertible) __builtin_trap();
  if (written) {
    FILE* again = fmemopen(buffer, length, "rb");
    CEncryptedString back;
    if (!ReadFrom(again, back) || back.GetString() != text) __builtin_trap();
    std::fclose(again);
  }
  std::free(buffer);
  return 0;
}
