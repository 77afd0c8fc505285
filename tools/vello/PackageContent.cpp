#include "tools/vello/PackageContent.h"

#include <algorithm>
#include <memory>

#include "builder_package/Package.h"
#include "builder_package/PackageBinary.h"
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

bool CompressedFile(const unsigned char* stored, int packedSize, int unpackedSize, int k, FileContent& out,
                    std::string& problem) {
  if (stored == nullptr || packedSize <= 0 || unpackedSize <= 0) {
    problem = "has sizes " + std::to_string(packedSize) + " packed and " + std::to_string(unpackedSize) +
              " unpacked";
    return false;
  }
  out = FileContent::Inflated(stored, packedSize, unpackedSize, k);
  return true;
}

bool ResourceFile(const ResourceView& r, FileContent& out, std::string& problem) {
  return CompressedFile(r.stored, r.packedSize, r.unpackedSize, r.k, out, problem);
}

bool ReadsWhole(const FileContent& content, std::string& problem) {
  constexpr std::size_t kPiece = 64 * 1024;
  const std::unique_ptr<unsigned char[]> scratch(new unsigned char[kPiece]);
  for (std::uint64_t at = 0; at < content.size(); at += kPiece) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, content.size() - at));
    if (content.Piece(static_cast<std::size_t>(at), n, scratch.get()) == nullptr) {
      problem = content.Problem();
      return false;
    }
  }
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
