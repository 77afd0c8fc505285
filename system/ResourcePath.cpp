#include "system/ResourcePath.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::string ProgramFolder() {
  // The link's length is not known beforehand: grow until it fits.
  std::string target(256, '\0');
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", target.data(), target.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < target.size()) {
      target.resize(static_cast<size_t>(n));
      break;
    }
    target.resize(target.size() * 2);
  }
  const size_t slash = target.rfind('/');
  return slash == std::string::npos ? target : target.substr(0, slash);
}

std::string ResourceFolderFor(const std::string& programFolder) {
  if (programFolder.empty()) return {};
  const fs::path folder(programFolder);
  if (folder.filename() == "bin") return (folder.parent_path() / "share" / "lumetta").string();
  for (fs::path up = folder;; up = up.parent_path()) {
    std::error_code ec;
    if (fs::is_regular_file(up / "CMakeCache.txt", ec)) return (up / "demo" / "resources").string();
    if (up == up.parent_path() || up.empty()) break;
  }
  return programFolder;
}

std::string ResourceFolder() { return ResourceFolderFor(ProgramFolder()); }
