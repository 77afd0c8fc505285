#pragma once

#include <string>
#include <vector>

#include "system/ByteRun.h"
#include "builder_package/FileContent.h"

class CPackage;
class CPackageBinary;

// A package's sections as the files they were packed from.
using ByteVector = RunBytes;

// The four compressed resources, in file order.
struct ResourceView {
  const char* key;       // "splash", "tray_icon", "flash", "xul"
  const char* fileName;  // what extract names it
  const unsigned char* stored;
  int packedSize;
  int unpackedSize;
  int k;  // scramble constant

  bool present() const { return packedSize != 0 || unpackedSize != 0; }
};
std::vector<ResourceView> Resources(const CPackage& package);

// The resource inflated to its recorded size; false with a reason when it
// does not.
bool ResourceBytes(const ResourceView& resource, ByteVector& out, std::string& problem);

// A binary record's bytes with their scramble removed.
ByteVector BinaryBytes(const CPackageBinary& binary);
// The same as extract writes them, with no copy of the whole.
FileContent BinaryFile(const CPackageBinary& binary);
