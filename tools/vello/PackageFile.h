#pragma once

#include <memory>
#include <string>

class CPackage;

// Reading and writing package files for the subcommands, with messages
// that name the file and say what is wrong.

struct LoadedPackage {
  std::unique_ptr<CPackage> package;
  long long trailingBytes = 0;  // bytes after the last section, never read
};

// Throws ToolError(kExitUnreadable) when the file does not open or does not
// read as a package; the message names the file and where reading stopped.
LoadedPackage LoadPackage(const std::string& path);

// Saves through the library's atomic save; throws ToolError(kExitFaults)
// naming the file when it cannot be written (the old file is then kept).
void SavePackage(CPackage& package, const std::string& path);
