#pragma once

#include <memory>
#include <string>

class CPackage;
class CSysFile;

// Reading and writing package files for the subcommands, with messages
// that name the file and say what is wrong.

struct LoadedPackage {
  std::unique_ptr<CPackage> package;
  long long trailingBytes = 0;  // bytes after the last section, never read
  // The package file, kept open when the main programs were left in it.
  std::unique_ptr<CSysFile> file;
  LoadedPackage();
  LoadedPackage(LoadedPackage&&) noexcept;
  LoadedPackage& operator=(LoadedPackage&&) noexcept;
  ~LoadedPackage();
};

// Throws ToolError(kExitUnreadable) when the file does not open or does not
// read as a package; the message names the file and where reading stopped.
LoadedPackage LoadPackage(const std::string& path);
// The same, leaving the forms' main programs in the file, which stays open
// for streaming them (PackageReadOptions).
LoadedPackage LoadPackageLeavingPrograms(const std::string& path);

// Saves through the library's atomic save; throws ToolError(kExitFaults)
// naming the file when it cannot be written (the old file is then kept).
void SavePackage(CPackage& package, const std::string& path);
