#include "tools/vello/PackageFile.h"

#include <cerrno>

#include "builder_package/Package.h"
#include "system/SysFile.h"
#include "tools/vello/InputFile.h"
#include "tools/vello/Text.h"
#include "tools/vello/ToolError.h"

namespace {

std::string WhyNotRead(const CPackage& package) {
  const std::string reason = package.GetReadFailure().ToString();
  return reason.empty() ? "it ends early or holds a damaged record" : reason;
}

LoadedPackage Load(const std::string& path, const PackageReadOptions& options) {
  // Checked before opening: opening a FIFO would wait for a writer.
  const InputCheck input = CheckInput(path);
  if (input.kind == InputCheck::kFolder)
    throw ToolError(kExitUnreadable, path + ": is a folder, not a package file");
  if (input.kind == InputCheck::kNotAFile) throw ToolError(kExitUnreadable, path + ": " + input.why);
  auto file = std::make_unique<CSysFile>();
  errno = 0;
  if (!file->Open(Wide(path), L"rb"))
    throw ToolError(kExitUnreadable, path + ": cannot open: " + LastSystemError());
  LoadedPackage loaded;
  loaded.package = std::make_unique<CPackage>();
  if (!loaded.package->Read(0, *file, options))
    throw ToolError(kExitUnreadable, path + ": not a readable package: " + WhyNotRead(*loaded.package));
  const long long left = file->Remaining();
  loaded.trailingBytes = left > 0 ? left : 0;
  if (options.leaveMainProgramsInFile) loaded.file = std::move(file);
  return loaded;
}

}  // namespace

LoadedPackage::LoadedPackage() = default;
LoadedPackage::LoadedPackage(LoadedPackage&&) noexcept = default;
LoadedPackage& LoadedPackage::operator=(LoadedPackage&&) noexcept = default;
LoadedPackage::~LoadedPackage() = default;

LoadedPackage LoadPackage(const std::string& path) { return Load(path, PackageReadOptions{}); }

LoadedPackage LoadPackageLeavingPrograms(const std::string& path) {
  PackageReadOptions options;
  options.leaveMainProgramsInFile = true;
  return Load(path, options);
}

void SavePackage(CPackage& package, const std::string& path) {
  errno = 0;
  if (package.Save(0, Wide(path))) return;
  const std::string why = errno != 0 ? LastSystemError() : "the package could not be written whole";
  throw ToolError(kExitFaults, path + ": cannot write: " + why + " (any old file there is unchanged)");
}
