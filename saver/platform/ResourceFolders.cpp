#include "saver/platform/ResourceFolders.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "system/ResourcePath.h"

std::string DefaultResources() { return ResourceFolder(); }

std::string ShareFolderFor(const std::string& programFolder) {
  const std::string installed = ResourceFolderFor(programFolder);
  std::error_code ec;
  if (!installed.empty() &&
      std::filesystem::is_regular_file(std::filesystem::path(installed) / "ruffle" / "ruffle.js", ec))
    return installed;
  return (std::filesystem::path(programFolder) / "share").string();
}

std::string ShareFolder() { return ShareFolderFor(ProgramFolder()); }

std::string UserTemporaryDirectory() {
  const char* dir = std::getenv("TMPDIR");
  if (dir != nullptr && *dir != '\0') return dir;
  return "/tmp";
}
