#include "tools/vello/PackageFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <iostream>
#include <map>
#include <regex>

#include "builder_package/Package.h"
#include "system/SysFile.h"
#include "tools/vello/InputFile.h"
#include "tools/vello/Text.h"
#include "tools/vello/ToolError.h"

namespace {

// A field of a record as a person knows it: its meaning where the format
// gives one, else its kind and number ("text 1" of the header).
std::string FieldName(const std::string& field) {
  static const std::map<std::string, std::string> named = {
      {"packageVersion", "package version"},     {"formVersion", "form version"},
      {"binaryVersion", "record version"},       {"m_SWFLength", "main program size"},
      {"m_SWFVersion", "SWF version"},           {"m_packedMaskSize", "packed mask size"},
      {"m_unpackedMaskSize", "mask size"},       {"m_formName", "name"},
      {"m_saverPreviewSize", "preview program size"}, {"m_saverSettingsSize", "settings program size"},
      {"m_keyTextLength", "key text size"},      {"m_length", "size"}};
  if (const auto it = named.find(field); it != named.end()) return it->second;
  // The numbered fields the format leaves unnamed, and the resources' sizes.
  static const std::regex numbered("m_(header|form|option)(UInt|Int|String|Flag)([0-9]+)");
  static const std::regex resource("m_(packed|unpacked)(Splash|TrayIcon|Flash|Xul)Size");
  std::smatch m;
  if (std::regex_match(field, m, numbered)) {
    const std::string kind = m[2] == "UInt" ? "unsigned number" : m[2] == "Int" ? "number"
                             : m[2] == "String"                 ? "text"
                                                                : "flag";
    return kind + " " + m[3].str();
  }
  if (std::regex_match(field, m, resource)) return m[1] == "packed" ? "packed size" : "size";
  return field;
}

// Entries of a list or map are counted from 0, as --form counts forms.
std::string RecordName(const std::string& record) {
  static const std::regex entry("(.*) ([0-9]+)");
  std::smatch m;
  if (!std::regex_match(record, m, entry)) return record;
  return m[1].str() + " " + std::to_string(std::stoll(m[2].str()) - 1);
}

std::string WhyNotRead(const CPackage& package) {
  ReadFailure failure = package.GetReadFailure();
  if (!failure.failed()) return "it ends early or holds a damaged record";
  failure.record = RecordName(failure.record);
  failure.field = FieldName(failure.field);
  return failure.ToString();
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
    throw ToolError(kExitUnreadable, path + ": " + kNotAPackage + ": " + WhyNotRead(*loaded.package));
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
  std::cerr << Shown(path + ": dropping " + what) << "\n";
}

std::vector<std::string> DuplicateKeys(const CPackage& package) {
  std::vector<std::string> keys;
  for (const CPackage::DuplicateKey& duplicate : package.GetDuplicateKeys())
    keys.push_back("the " + duplicate.section + " \"" + Utf8(duplicate.key) + "\"");
  return keys;
}

void RefuseToDropDuplicates(const LoadedPackage& loaded, const std::string& path, bool drop) {
  const std::vector<std::string> keys = DuplicateKeys(*loaded.package);
  if (keys.empty()) return;
  std::string list;
  for (const std::string& key : keys) list += (list.empty() ? "" : ", ") + key;
  if (!drop)
    throw ToolError(kExitFaults, path + ": holds more than one record of " + list +
                                     "; rewriting it would keep only the later; nothing written (" +
                                     kDropDuplicatesOption + " drops the earlier)");
  std::cerr << Shown(path + ": dropping the earlier record of " + list) << "\n";
}

void SavePackage(CPackage& package, const std::string& path, const WrittenCheck& check, bool mayReplace) {
  struct stat before;
  const char* unchanged = lstat(path.c_str(), &before) == 0 ? "; it is left as it was" : "; nothing was written";
  PackageSaveOptions options;
  options.mayReplace = mayReplace;
  options.checkWritten = check;
  if (!package.Save(0, path, options))
    throw ToolError(kExitFaults, path + ": " + package.GetSaveFailure().problem + unchanged);
}
