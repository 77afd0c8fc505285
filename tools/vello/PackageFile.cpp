#include "tools/vello/PackageFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <iostream>

#include "builder_package/Package.h"
#include "system/AtomicFile.h"
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
  LoadedPackage loaded;
  errno = 0;
  // Opened by its bytes: the library's wide path would cut a name that is
  // not UTF-8 short and open another file.
  loaded.handle.reset(std::fopen(path.c_str(), "rb"));
  if (!loaded.handle) throw ToolError(kExitUnreadable, path + ": cannot open: " + LastSystemError());
  auto file = std::make_unique<CSysFile>(loaded.handle.get());
  loaded.package = std::make_unique<CPackage>();
  if (!loaded.package->Read(0, *file, options))
    throw ToolError(kExitUnreadable, path + ": not a readable package: " + WhyNotRead(*loaded.package));
  const long long left = file->Remaining();
  loaded.trailingBytes = left > 0 ? left : 0;
  loaded.trailingAt = ftello(loaded.handle.get());
  if (options.leaveMainProgramsInFile)
    loaded.file = std::move(file);
  else
    loaded.handle.reset();
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

void RefuseToDropTrailingBytes(const LoadedPackage& loaded, const std::string& path, bool drop) {
  if (loaded.trailingBytes <= 0) return;
  const std::string what = std::to_string(loaded.trailingBytes) + " bytes from byte " +
                           std::to_string(loaded.trailingAt) + " to the end, after the last section of version " +
                           std::to_string(loaded.package->GetStoredVersion());
  if (!drop)
    throw ToolError(kExitFaults, path + ": holds " + what + ", which rewriting it would drop; nothing written (" +
                                     kDropTrailingOption + " drops them)");
  std::cerr << path << ": dropping " << what << "\n";
}

void SavePackage(CPackage& package, const std::string& path, const WrittenCheck& check) {
  struct stat before;
  const char* unchanged = lstat(path.c_str(), &before) == 0 ? "; it is left as it was" : "; nothing was written";
  const auto fail = [&path, unchanged](const std::string& why) {
    throw ToolError(kExitFaults, path + ": " + why + unchanged);
  };
  AtomicFile atomic(path);
  if (!atomic.Begin()) fail(atomic.Failure());
  CSysFile file(atomic.Handle());
  errno = 0;
  if (!package.Write(0, file))
    fail("cannot write: " + (errno != 0 ? LastSystemError() : std::string("the package could not be written whole")));
  if (check) {
    if (std::fflush(atomic.Handle()) != 0) fail("cannot write: " + LastSystemError());
    std::rewind(atomic.Handle());
    check(atomic.Handle());
  }
  if (!atomic.Commit()) fail(atomic.Failure());
}
