#include "saver/platform/ResourceFolders.h"

#include <filesystem>
#include <system_error>

namespace {

// Empty when the program cannot tell where it is.
std::filesystem::path ProgramFolder() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : exe.parent_path();
}

// <prefix>/share/lumetta beside the <prefix>/bin this program runs from.
std::filesystem::path InstalledShare() {
  const std::filesystem::path program = ProgramFolder();
  if (program.empty()) return {};
  return (program / ".." / "share" / "lumetta").lexically_normal();
}

}  // namespace

std::string DefaultResources() {
  std::error_code ec;
  const std::filesystem::path installed = InstalledShare();
  if (!installed.empty() && std::filesystem::exists(installed / "vello.dat", ec))
    return installed.string();
  const std::filesystem::path program = ProgramFolder();
  if (program.empty()) return "demo/resources";
  return (program / ".." / "demo" / "resources").lexically_normal().string();
}

std::string ShareFolder(const std::string& buildShareFolder) {
  std::error_code ec;
  const std::filesystem::path installed = InstalledShare();
  if (!installed.empty() && std::filesystem::exists(installed / "ruffle" / "ruffle.js", ec))
    return installed.string();
  return buildShareFolder;
}
