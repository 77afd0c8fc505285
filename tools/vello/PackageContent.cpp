#include "tools/vello/PackageContent.h"

#include <memory>

#include "builder_package/Package.h"
#include "builder_package/PackageBinary.h"
#include "builder_package/PackedResource.h"
#include "builder_package/Scramble.h"

std::vector<ResourceView> Resources(const CPackage& p) {
  return {{"splash", "splash.bin", p.GetPackedSplash(), p.GetPackedSplashSize(), p.GetUnpackedSplashSize(),
           Scramble::kSplash},
          {"tray_icon", "tray-icon.bin", p.GetPackedTrayIcon(), p.GetPackedTrayIconSize(),
           p.GetUnpackedTrayIconSize(), Scramble::kTrayIcon},
          {"flash", "flash.bin", p.GetPackedFlash(), p.GetPackedFlashSize(), p.GetUnpackedFlashSize(),
           Scramble::kFlash},
          {"xul", "xul.bin", p.GetPackedXul(), p.GetPackedXulSize(), p.GetUnpackedXulSize(), Scramble::kXul}};
}

bool ResourceBytes(const ResourceView& r, ByteVector& out, std::string& problem) {
  unsigned char* data = nullptr;
  int size = 0;
  if (r.stored == nullptr || r.packedSize <= 0 || r.unpackedSize <= 0 ||
      !PackedResource::Unpack(r.stored, r.packedSize, r.unpackedSize, r.k, &data, size)) {
    problem = "does not inflate to its recorded " + std::to_string(r.unpackedSize) + " bytes (" +
              std::to_string(r.packedSize) + " packed)";
    return false;
  }
  const std::unique_ptr<unsigned char[]> owned(data);
  out.assign(data, data + size);
  return true;
}

FileContent BinaryFile(const CPackageBinary& binary) {
  if (binary.GetData() == nullptr || binary.GetLength() <= 0) return FileContent::Held({});
  return FileContent::Descrambled(binary.GetData(), binary.GetLength(), Scramble::kBinary);
}

ByteVector BinaryBytes(const CPackageBinary& binary) {
  if (binary.GetData() == nullptr || binary.GetLength() <= 0) return {};
  ByteVector bytes(binary.GetData(), binary.GetData() + binary.GetLength());
  Scramble::Apply(bytes.data(), binary.GetLength(), Scramble::kBinary);
  return bytes;
}
