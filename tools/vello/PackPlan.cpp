#include "tools/vello/PackPlan.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <tuple>

#include "builder_package/Package.h"
#include "builder_package/PackageForm.h"
#include "system/SysFile.h"
#include "system/UniqueFd.h"
#include "tools/vello/InputFile.h"
#include "tools/vello/OutputFolder.h"
#include "tools/vello/Progress.h"
#include "tools/vello/SwfCheck.h"
#include "tools/vello/Text.h"
#include "tools/vello/ToolError.h"

using nlohmann::json;

namespace {

// The PEM writer's callback data: any non-empty text; the key text does not
// depend on it.
constexpr const char* kKeyCallbackText = "vello";

std::string Describe(const std::string& what, const std::string& path) {
  return what + " " + path;
}

class ManifestReader {
 public:
  explicit ManifestReader(const std::string& path)
      : m_path(path), m_base(std::filesystem::path(path).parent_path()) {}

  [[noreturn]] void Fail(const std::string& why) const { throw ToolError(kExitUnreadable, m_path + ": " + why); }

  json Parse() const {
    // Looked at before it is opened: a FIFO would block the open.
    const InputCheck input = CheckInput(m_path);
    if (!input.why.empty()) Fail(input.why);
    std::ifstream in(m_path);
    if (!in) Fail("cannot open: " + LastSystemError());
    try {
      return json::parse(in);
    } catch (const json::exception& e) {
      Fail(std::string("is not JSON: ") + e.what());
    }
  }

  std::string PathAt(const json& object, const char* key, const std::string& where) const {
    if (!object.contains(key)) return "";
    const json& value = object[key];
    // A zero character would cut the path short: another file.
    if (!value.is_string() || value.get<std::string>().empty() ||
        value.get<std::string>().find('\0') != std::string::npos)
      Fail(where + "\"" + key + "\" must be a file path");
    const std::filesystem::path p = value.get<std::string>();
    return (p.is_absolute() ? p : m_base / p).string();
  }

  NamedValues Map(const json& object, const char* key, bool paths) const {
    NamedValues out;
    if (!object.contains(key)) return out;
    const json& map = object[key];
    if (!map.is_object()) Fail(std::string("\"") + key + "\" must be an object of names to texts");
    for (const auto& item : map.items()) {
      if (!item.value().is_string()) Fail(std::string("\"") + key + "\": \"" + item.key() + "\" must be text");
      out.emplace_back(item.key(), paths ? PathAt(map, item.key().c_str(), std::string(key) + ": ")
                                         : item.value().get<std::string>());
    }
    return out;
  }

  std::vector<std::string> Paths(const json& object, const char* key) const {
    std::vector<std::string> out;
    if (!object.contains(key)) return out;
    if (!object[key].is_array()) Fail(std::string("\"") + key + "\" must be a list of file paths");
    for (const json& item : object[key]) {
      if (!item.is_string() || item.get<std::string>().empty() ||
          item.get<std::string>().find('\0') != std::string::npos)
        Fail(std::string("\"") + key + "\" must be a list of file paths");
      const std::filesystem::path p = item.get<std::string>();
      out.push_back((p.is_absolute() ? p : m_base / p).string());
    }
    return out;
  }

  void CheckKeys(const json& object, const std::vector<std::string>& known, const std::string& where) const {
    if (!object.is_object()) Fail(where + "must be an object");
    for (const auto& item : object.items())
      if (std::find(known.begin(), known.end(), item.key()) == known.end())
        Fail(where + "has an unknown key \"" + item.key() + "\"");
  }

 private:
  std::string m_path;
  std::filesystem::path m_base;
};

void Require(bool ok, const std::string& what, const std::string& path) {
  if (!ok) throw ToolError(kExitFaults, Describe(what, path) + ": cannot be packed");
}

// The program in the file as verify would judge it; mapped, not copied,
// as it may be large.
SwfCheck CheckProgramFile(const std::string& path) {
  const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0) return {"cannot be read: " + LastSystemError()};
  const size_t size = static_cast<size_t>(st.st_size);
  if (size == 0) return CheckSwf(nullptr, 0);
  void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd.get(), 0);
  if (mapped == MAP_FAILED) return {"cannot be read: " + LastSystemError()};
  const SwfCheck check = CheckSwf(static_cast<const unsigned char*>(mapped), size);
  munmap(mapped, size);
  return check;
}

// Text stored in the package as the library stores it: a name or value
// that does not come back the same from its wide form would be stored as
// some other text, or meet another one.
// A zero character ends a stored text (and the message: escaped here).
std::string Stored(const std::string& what, const std::string& text) {
  if (text.find('\0') != std::string::npos)
    throw ToolError(kExitUsage, what + " \"" + Shown(text) + "\" is refused: a zero character would end it");
  if (Utf8(Wide(text)) != text)
    throw ToolError(kExitUsage, what + " \"" + Shown(text) + "\" is refused: it is not UTF-8 text");
  return text;
}

uint64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}

}  // namespace

PackPlan ReadManifest(const std::string& path) {
  const ManifestReader reader(path);
  const json manifest = reader.Parse();
  reader.CheckKeys(manifest,
                   {"forms", "splash", "tray_icon", "flash", "xul", "files", "secure_vars", "global_vars", "dlls"},
                   "");
  if (!manifest.contains("forms") || !manifest["forms"].is_array() || manifest["forms"].empty())
    reader.Fail("\"forms\" must be a list of at least one form");
  PackPlan plan;
  for (size_t i = 0; i < manifest["forms"].size(); ++i) {
    const json& f = manifest["forms"][i];
    const std::string where = "form " + std::to_string(i) + ": ";
    reader.CheckKeys(f, {"main", "protect", "preview", "settings", "mask", "name"}, where);
    FormPlan form;
    form.main = reader.PathAt(f, "main", where);
    if (form.main.empty()) reader.Fail(where + "\"main\" is required");
    form.preview = reader.PathAt(f, "preview", where);
    form.settings = reader.PathAt(f, "settings", where);
    form.mask = reader.PathAt(f, "mask", where);
    if (f.contains("protect")) {
      if (!f["protect"].is_boolean()) reader.Fail(where + "\"protect\" must be true or false");
      form.protect = f["protect"].get<bool>();
    }
    if (f.contains("name")) {
      if (!f["name"].is_string()) reader.Fail(where + "\"name\" must be text");
      form.name = f["name"].get<std::string>();
    }
    plan.forms.push_back(form);
  }
  plan.splash = reader.PathAt(manifest, "splash", "");
  plan.trayIcon = reader.PathAt(manifest, "tray_icon", "");
  plan.flash = reader.PathAt(manifest, "flash", "");
  plan.xul = reader.PathAt(manifest, "xul", "");
  plan.files = reader.Map(manifest, "files", true);
  plan.secureVars = reader.Map(manifest, "secure_vars", false);
  plan.globalVars = reader.Map(manifest, "global_vars", false);
  plan.dlls = reader.Paths(manifest, "dlls");
  return plan;
}

std::pair<std::string, std::string> SplitAssignment(const std::string& option, const std::string& text) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0)
    throw ToolError(kExitUsage, option + " " + text + ": expected NAME=VALUE");
  return {text.substr(0, equals), text.substr(equals + 1)};
}

std::vector<std::pair<std::string, std::string>> Inputs(const PackPlan& plan) {
  std::vector<std::pair<std::string, std::string>> inputs;
  for (size_t i = 0; i < plan.forms.size(); ++i) {
    const FormPlan& f = plan.forms[i];
    const std::string form = plan.forms.size() > 1 ? "form " + std::to_string(i) + " " : "";
    inputs.emplace_back(form + "main program", f.main);
    if (!f.preview.empty()) inputs.emplace_back(form + "preview program", f.preview);
    if (!f.settings.empty()) inputs.emplace_back(form + "settings program", f.settings);
    if (!f.mask.empty()) inputs.emplace_back(form + "mask", f.mask);
  }
  const std::pair<const char*, const std::string*> resources[] = {
      {"splash", &plan.splash}, {"tray icon", &plan.trayIcon}, {"flash resource", &plan.flash}, {"xul resource", &plan.xul}};
  for (const auto& [what, path] : resources)
    if (!path->empty()) inputs.emplace_back(what, *path);
  for (const auto& [name, path] : plan.files) inputs.emplace_back("file \"" + name + "\" from", path);
  for (const std::string& path : plan.dlls) inputs.emplace_back("DLL", path);
  return inputs;
}

void BuildPackage(const PackPlan& plan, CPackage& package, bool checkPrograms) {
  uint64_t total = 0;
  for (const auto& [what, path] : Inputs(plan)) {
    // Looked at before it is opened: a FIFO would block the open, and a
    // device would read as empty or without end.
    const InputCheck input = CheckInput(path);
    std::string why = input.why;
    if (input.kind == InputCheck::kRegular && input.size > kMostItemBytes)
      why = "it holds " + std::to_string(input.size) + " bytes, more than the 2 GiB a package item can hold";
    if (why.empty() && !std::ifstream(path, std::ios::binary)) why = LastSystemError();
    if (!why.empty()) throw ToolError(kExitUnreadable, "cannot read the " + Describe(what, path) + ": " + why);
    total += input.size;
  }
  // Names extract would refuse are refused here, before a package holds
  // them, in the form they are stored.
  std::vector<std::string> names;
  for (const auto& [name, path] : plan.files) {
    const std::string stored = Stored("the file name", name);
    const std::string refusal = OutputFolder::NameRefusal(stored);
    if (!refusal.empty()) throw ToolError(kExitUsage, "the file name \"" + name + "\" is refused: " + refusal);
    names.push_back(stored);
  }
  const std::string collision = OutputFolder::Collision(names);
  if (!collision.empty()) throw ToolError(kExitUsage, "the file names are refused: " + collision);
  for (const FormPlan& f : plan.forms) Stored("the form name", f.name);
  // A variable given twice would keep only the later value.
  const std::pair<const char*, const NamedValues*> variables[] = {{"secure variable", &plan.secureVars},
                                                                  {"global variable", &plan.globalVars}};
  for (const auto& [what, values] : variables) {
    std::set<std::string> seen;
    for (const auto& [name, value] : *values) {
      Stored(std::string("the ") + what + " name", name);
      Stored(std::string("the value of the ") + what + " \"" + name + "\"", value);
      if (!seen.insert(name).second)
        throw ToolError(kExitUsage, std::string("the ") + what + " \"" + name + "\" is given more than once");
    }
  }
  // Programs that verify would reject, refused before anything is written.
  for (const FormPlan& f : plan.forms) {
    const std::pair<const char*, const std::string*> programs[] = {
        {"main program", &f.main}, {"preview program", &f.preview}, {"settings program", &f.settings}};
    for (const auto& [what, path] : programs) {
      if (path->empty()) continue;
      const SwfCheck swf = CheckProgramFile(*path);
      if (swf.ok()) continue;
      const std::string problem = "the " + Describe(what, *path) + " is not an SWF program: it " + swf.problem;
      if (checkPrograms) throw ToolError(kExitFaults, problem + " (--no-check packs it all the same)");
      std::cerr << Shown("vello pack: packed all the same (--no-check): " + problem) << "\n";
    }
  }
  Progress progress("packing", total);
  for (size_t i = 0; i < plan.forms.size(); ++i) {
    const FormPlan& f = plan.forms[i];
    auto* form = new CPackageForm;
    package.AddForm(form);  // owned by the package from here on
    if (!f.name.empty()) form->SetFormName(Wide(f.name));
    Require(form->PackSWF(WidePath(f.main), f.protect, kKeyCallbackText), "the main program", f.main);
    progress.Advance(FileSize(f.main));
    if (!f.preview.empty()) {
      Require(form->PackSaverPreview(WidePath(f.preview)), "the preview program", f.preview);
      progress.Advance(FileSize(f.preview));
    }
    if (!f.settings.empty()) {
      Require(form->PackSaverSettings(WidePath(f.settings)), "the settings program", f.settings);
      progress.Advance(FileSize(f.settings));
    }
    if (!f.mask.empty()) {
      if (!form->PackMask(WidePath(f.mask)))
        throw ToolError(kExitFaults, "the mask " + f.mask +
                                         ": cannot be packed (zlib must shrink it, and it must not be empty)");
      progress.Advance(FileSize(f.mask));
    }
  }
  using Packer = bool (CPackage::*)(const std::wstring&);
  const std::tuple<const char*, const std::string*, Packer> resources[] = {
      {"the splash", &plan.splash, &CPackage::PackSplash},
      {"the tray icon", &plan.trayIcon, &CPackage::PackTrayIcon},
      {"the flash resource", &plan.flash, &CPackage::PackFlash},
      {"the xul resource", &plan.xul, &CPackage::PackXul}};
  for (const auto& [what, path, pack] : resources) {
    if (path->empty()) continue;
    if (!(package.*pack)(WidePath(*path)))
      throw ToolError(kExitFaults, std::string(what) + " " + *path +
                                       ": cannot be packed (zlib must shrink it, and it must not be empty)");
    progress.Advance(FileSize(*path));
  }
  for (const auto& [name, path] : plan.files) {
    Require(package.PackFile(Wide(name), WidePath(path)), "the file", path);
    progress.Advance(FileSize(path));
  }
  for (const std::string& path : plan.dlls) {
    ByteRun bytes;
    int size = 0;
    Require(CSysFile::ReadRunFromDisk(WidePath(path), bytes, size) && package.PackWin32Dll(bytes.get(), size),
            "the DLL", path);
    progress.Advance(static_cast<uint64_t>(size));
  }
  for (const auto& [name, value] : plan.secureVars) package.AddSecureVar(Wide(name), Wide(value));
  for (const auto& [name, value] : plan.globalVars) package.AddGlobalVar(Wide(name), Wide(value));
}
