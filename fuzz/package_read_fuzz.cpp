// Hostile package files: reading, unpacking every program and resource and
// writing back must never crash, leak or over-allocate; a failed read says
// why; what reads writes, and what is written reads back and writes the
// same bytes again. The same bytes as a file then go through vello's info,
// verify, extract and upgrade, which may refuse them but must not crash,
// throw anything but their own errors or take more memory than the run's
// -rss_limit_mb.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "builder_package/Package.h"
#include "builder_package/PackageBinary.h"
#include "builder_package/PackageForm.h"
#include "encryption/EncryptedString.h"
#include "system/SysFile.h"
#include "system/DirTree.h"
#include "system/SysStringHelper.h"
#include "tools/vello/Commands.h"
#include "tools/vello/Progress.h"
#include "tools/vello/ToolError.h"

namespace {

void Release(bool ok, unsigned char* out) {
  if (ok) delete[] out;
}

void Unpack(CPackageForm& form) {
  unsigned char* out = nullptr;
  int size = 0;
  Release(form.UnpackSWFToRam(&out, size), out);
  Release(form.UnpackSaverPreviewToRam(&out, size), out);
  Release(form.UnpackSaverSettingsToRam(&out, size), out);
  if (form.GetPackedMaskSize() > 0) Release(form.UnpackMaskToRam(&out, size), out);
  (void)form.GetSWFVersion();
}

void Unpack(CPackage& package) {
  for (int i = 0; i < package.GetFormCount(); ++i) Unpack(*package.GetForm(i));
  unsigned char* out = nullptr;
  int size = 0;
  if (package.GetPackedSplash() != nullptr) Release(package.UnpackSplashToRam(&out, size), out);
  Release(package.UnpackTrayIconToRam(&out, size), out);
  Release(package.UnpackFlash(&out, size), out);
  Release(package.UnpackXul(&out, size), out);
  for (CPackageBinary* binary : package.GetDllBinaries())
    if (binary->GetLength() > 0) Release(binary->UnPackDataAndDecrypt(&out, size), out);
  for (const auto& [key, binary] : package.GetFiles())
    if (binary->GetLength() > 0) Release(binary->UnPackDataAndDecrypt(&out, size), out);
}

// A version-1 encrypted string holds raw cipher bytes, which may decipher
// to units UTF-8 cannot hold; only such a value may keep a package from
// being written.
bool HoldsUnwritableText(const CPackage& package) {
  const auto unwritable = [](const CEncryptedString* value) {
    std::string utf8;
    return !CSysStringHelper::GetSingleton().NativeToUTF8(value->GetString(), utf8);
  };
  for (const CEncryptedString* value : package.GetEncryptedStrings())
    if (unwritable(value)) return true;
  for (const auto* map : {&package.GetSecureVars(), &package.GetGlobalVars()})
    for (const auto& entry : *map)
      if (unwritable(entry.second)) return true;
  return false;
}

bool ReadFrom(const void* data, size_t size, CPackage& package) {
  FILE* in = fmemopen(const_cast<void*>(data), size, "rb");
  if (in == nullptr) return false;
  bool read;
  {
    CSysFile file(in);
    read = package.Read(0, file);
  }
  std::fclose(in);
  return read;
}

// The same bytes as a real file (one that can seek), read with the main
// programs left in it.
bool ReadLeavingPrograms(const void* data, size_t size, CPackage& package) {
  const int fd = memfd_create("package", MFD_CLOEXEC);
  if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0)
    __builtin_trap();
  FILE* in = fdopen(fd, "rb");
  if (in == nullptr) __builtin_trap();
  PackageReadOptions options;
  options.leaveMainProgramsInFile = true;
  bool read;
  {
    CSysFile file(in);
    read = package.Read(0, file, options);
  }
  std::fclose(in);
  return read;
}

// The written bytes, or false when Write fails.
bool WriteOut(CPackage& package, std::string& bytes) {
  char* written = nullptr;
  size_t writtenSize = 0;
  FILE* out = open_memstream(&written, &writtenSize);
  if (out == nullptr) __builtin_trap();
  bool ok;
  {
    CSysFile file(out);
    ok = package.Write(0, file);
  }
  std::fclose(out);
  bytes.assign(written, writtenSize);
  std::free(written);
  return ok;
}

// A private folder for the files the subcommands read and write.
// Kept to the end of the process (never destroyed), so that the handler
// removing it at exit still finds its name.
const std::string& Scratch() {
  static const std::string* const folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/package-fuzz.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) __builtin_trap();
    return new std::string(pattern);
  }();
  static const bool removedAtExit = std::atexit([] { RemoveTree(*folder); }) == 0;
  (void)removedAtExit;
  return *folder;
}

// The exit code of vello with the arguments, as main gives it; anything
// thrown other than the tool's own errors is a finding, left to escape.
int Vello(const std::vector<std::string>& args) {
  CLI::App program{"vello"};
  program.require_subcommand(1);
  const std::vector<Subcommand> commands = {AddInfoCommand(program), AddVerifyCommand(program),
                                            AddExtractCommand(program), AddUpgradeCommand(program)};
  std::vector<const char*> argv = {"vello"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  program.parse(static_cast<int>(argv.size()), argv.data());
  for (const Subcommand& command : commands) {
    if (!command.app->parsed()) continue;
    try {
      return command.run();
    } catch (const ToolError& e) {
      return e.Code();
    }
  }
  __builtin_trap();
}

// info, verify, extract and upgrade on the bytes as a file: a package the
// library reads is described (exit 0); one it does not is unreadable (3).
void RunSubcommands(const uint8_t* data, size_t size, bool read) {
  const std::string package = Scratch() + "/package.dat", out = Scratch() + "/out";
  std::ofstream(package, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), size);
  std::ostringstream ignored;
  std::streambuf* const saved = std::cout.rdbuf(ignored.rdbuf());
  Progress::SetQuiet(true);
  const int info = Vello({"info", package});
  const int json = Vello({"info", "--json", "--show-values", package});
  const int verify = Vello({"verify", package});
  const int extract = Vello({"extract", package, "-o", out});
  RemoveTree(out);
  const int upgrade = Vello({"upgrade", package});
  std::cout.rdbuf(saved);
  if (info != (read ? 0 : 3) || json != info || (read && verify > 1) || (!read && verify != 1)) __builtin_trap();
  if (!read && (extract != 3 || upgrade != 3)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  CPackage package;
  const bool read = ReadFrom(data, size, package);
  if (read == package.GetReadFailure().failed()) __builtin_trap();  // false says why

  // Leaving the programs in the file changes nothing else of the read, and
  // a form whose program stayed there refuses to be written.
  CPackage left;
  if (ReadLeavingPrograms(data, size, left) != read ||
      left.GetReadFailure().ToString() != package.GetReadFailure().ToString() ||
      left.GetFormCount() != package.GetFormCount())
    __builtin_trap();
  Unpack(left);
  bool anyLeft = false;
  for (int i = 0; i < left.GetFormCount(); ++i) anyLeft |= left.GetForm(i)->GetStoredSWFOffset() >= 0;
  std::string ignored;
  if (read && anyLeft && WriteOut(left, ignored)) __builtin_trap();
  Unpack(package);
  RunSubcommands(data, size, read);
  if (!read) return 0;

  std::string first;
  if (!WriteOut(package, first)) {
    if (!HoldsUnwritableText(package)) __builtin_trap();  // a package that reads must write
    return 0;
  }
  CPackage again;
  std::string second;
  if (!ReadFrom(first.data(), first.size(), again) || !WriteOut(again, second) || second != first)
    __builtin_trap();
  return 0;
}
