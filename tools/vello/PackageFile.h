#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CPackage;
class CSysFile;

// Reading and writing package files for the subcommands, with messages
// that name the file and say what is wrong.

struct LoadedPackage {
  std::unique_ptr<CPackage> package;
  long long trailingBytes = 0;  // bytes after the last section, never read
  long long trailingAt = 0;     // the offset where they begin
  // The package file, kept open when the main programs were left in it
  // (handle owns what file reads from).
  std::unique_ptr<FILE, int (*)(FILE*)> handle{nullptr, &std::fclose};
  std::unique_ptr<CSysFile> file;
  LoadedPackage();
  LoadedPackage(LoadedPackage&&) noexcept;
  LoadedPackage& operator=(LoadedPackage&&) noexcept;
  ~LoadedPackage();
};

// What a file that does not read as a package is, before the detail of
// where reading stopped.
constexpr const char* kNotAPackage = "not a vello package (or a damaged one)";

// Paths are taken as the bytes they are. Throws ToolError(kExitUnreadable)
// when the file does not open or does not read as a package; the message
// names the file and where reading stopped.
LoadedPackage LoadPackage(const std::string& path);
// The same, leaving the forms' main programs in the file, which stays open
// for streaming them (PackageReadOptions).
LoadedPackage LoadPackageLeavingPrograms(const std::string& path);

// The option of the rewriting commands that lets them drop bytes after the
// last section.
constexpr const char* kDropTrailingOption = "--drop-trailing";

// Throws ToolError(kExitFaults), saying how many bytes and from where, when
// the package holds bytes after its last section that a rewrite would
// drop; with drop set, says on standard error that they are dropped.
void RefuseToDropTrailingBytes(const LoadedPackage& loaded, const std::string& path, bool drop);

// The option of the rewriting commands that lets them drop the earlier
// records of keys a map holds more than once.
constexpr const char* kDropDuplicatesOption = "--drop-duplicates";

// "the secure variable "alpha"" for each key the package's maps hold more
// than once (the map keeps the later record).
std::vector<std::string> DuplicateKeys(const CPackage& package);

// Throws ToolError(kExitFaults) naming each key held more than once, whose
// earlier record a rewrite would drop; with drop set, says on standard
// error which are dropped.
void RefuseToDropDuplicates(const LoadedPackage& loaded, const std::string& path, bool drop);

// Checks the package as written, from the start of the handle; throws
// ToolError to keep the old file.
using WrittenCheck = std::function<void(FILE* written)>;

// Saves with CPackage::Save: throws ToolError(kExitFaults) naming the
// file and why when it is refused or cannot be written; the old file, or
// whatever stands at the path, is then left as it was. With mayReplace
// false a file at the path, or one made there meanwhile, is refused.
void SavePackage(CPackage& package, const std::string& path, const WrittenCheck& check = nullptr,
                 bool mayReplace = true);
