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

// A compressed item (a resource or a mask) as extract writes it: inflated
// a piece at a time, so that its recorded size drives no allocation. False
// with a reason when its sizes cannot be those of a stream.
bool CompressedFile(const unsigned char* stored, int packedSize, int unpackedSize, int k, FileContent& out,
                    std::string& problem);
bool ResourceFile(const ResourceView& resource, FileContent& out, std::string& problem);

// Whether the content reads whole (a compressed item: inflates to exactly
// its recorded size), found a piece at a time; false with the reason.
bool ReadsWhole(const FileContent& content, std::string& problem);

// A binary record's bytes with their scramble removed.
ByteVector BinaryBytes(const CPackageBinary& binary);
// The same as extract writes them, with no copy of the whole.
FileContent BinaryFile(const CPackageBinary& binary);
