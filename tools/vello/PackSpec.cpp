#include "tools/vello/PackSpec.h"

#include <fstream>
#include <filesystem>

#include "builder_package/Package.h"
#include "builder_package/PackageForm.h"
#include "tools/vello/Progress.h"
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
    if (!value.is_string() || value.get<std::string>().empty())
      Fail(where + "\"" + key + "\" must be a file path");
    const std::filesystem::path p = value.get<std::string>();
    return (p.is_absolute() ? p : m_base / p).string();
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

uint64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}

}  // namespace

PackSpec ReadManifest(const std::string& path) {
  const ManifestReader reader(path);
  const json manifest = reader.Parse();
  reader.CheckKeys(manifest, {"forms"}, "");
  if (!manifest.contains("forms") || !manifest["forms"].is_array() || manifest["forms"].empty())
    reader.Fail("\"forms\" must be a list of at least one form");
  PackSpec spec;
  for (size_t i = 0; i < manifest["forms"].size(); ++i) {
    const json& f = manifest["forms"][i];
    const std::string where = "form " + std::to_string(i) + ": ";
    reader.CheckKeys(f, {"main", "protect", "preview", "settings", "mask", "name"}, where);
    FormSpec form;
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
    spec.forms.push_back(form);
  }
  return spec;
}

std::vector<std::pair<std::string, std::string>> Inputs(const PackSpec& spec) {
  std::vector<std::pair<std::string, std::string>> inputs;
  for (size_t i = 0; i < spec.forms.size(); ++i) {
    const FormSpec& f = spec.forms[i];
    const std::string form = spec.forms.size() > 1 ? "form " + std::to_string(i) + " " : "";
    inputs.emplace_back(form + "main program", f.main);
    if (!f.preview.empty()) inputs.emplace_back(form + "preview program", f.preview);
    if (!f.settings.empty()) inputs.emplace_back(form + "settings program", f.settings);
    if (!f.mask.empty()) inputs.emplace_back(form + "mask", f.mask);
  }
  return inputs;
}

void BuildPackage(const PackSpec& spec, CPackage& package) {
  uint64_t total = 0;
  for (const auto& [what, path] : Inputs(spec)) {
    std::error_code ec;
    std::ifstream probe(path, std::ios::binary);
    if (!probe || std::filesystem::is_directory(path, ec))
      throw ToolError(kExitUnreadable, "cannot read the " + Describe(what, path) + ": " +
                                           (probe ? "it is a folder" : LastSystemError()));
    total += FileSize(path);
  }
  Progress progress("packing", total);
  for (size_t i = 0; i < spec.forms.size(); ++i) {
    const FormSpec& f = spec.forms[i];
    auto* form = new CPackageForm;
    package.AddForm(form);  // owned by the package from here on
    if (!f.name.empty()) form->SetFormName(Wide(f.name));
    Require(form->PackSWF(Wide(f.main), f.protect, kKeyCallbackText), "the main program", f.main);
    progress.Advance(FileSize(f.main));
    if (!f.preview.empty()) {
      Require(form->PackSaverPreview(Wide(f.preview)), "the preview program", f.preview);
      progress.Advance(FileSize(f.preview));
    }
    if (!f.settings.empty()) {
      Require(form->PackSaverSettings(Wide(f.settings)), "the settings program", f.settings);
      progress.Advance(FileSize(f.settings));
    }
    if (!f.mask.empty()) {
      if (!form->PackMask(Wide(f.mask)))
        throw ToolError(kExitFaults, "the mask " + f.mask +
                                         ": cannot be packed (zlib must shrink it, and it must not be empty)");
      progress.Advance(FileSize(f.mask));
    }
  }
}
