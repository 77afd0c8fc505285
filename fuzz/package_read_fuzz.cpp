// Hostile package files: reading, unpacking every program and writing back
// must never crash, leak or over-allocate, and what reads must write.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "builder_package/Package.h"
#include "builder_package/PackageForm.h"
#include "system/SysFile.h"

namespace {

void Unpack(CPackageForm& form) {
  unsigned char* out = nullptr;
  int size = 0;
  if (form.UnpackSWFToRam(&out, size)) delete[] out;
  if (form.UnpackSaverPreviewToRam(&out, size)) delete[] out;
  if (form.UnpackSaverSettingsToRam(&out, size)) delete[] out;
  if (form.GetPackedMaskSize() > 0 && form.UnpackMaskToRam(&out, size)) delete[] out;
  (void)form.GetSWFVersion();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FILE* in = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (in == nullptr) return 0;
  CPackage package;
  bool read;
  {
    CSysFile file(in);
    read = package.Read(0, file);
  }
  std::fclose(in);

  for (int i = 0; i < package.GetFormCount(); ++i) Unpack(*package.GetForm(i));

  if (read) {
    char* written = nullptr;
    size_t writtenSize = 0;
    FILE* out = open_memstream(&written, &writtenSize);
    if (out != nullptr) {
      CSysFile file(out);
      if (!package.Write(0, file)) __builtin_trap();  // a package that reads must write
      std::fclose(out);
      std::free(written);
    }
  }
  return 0;
}
