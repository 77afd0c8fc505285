#pragma once

// Scratch folders, files and packages for the saver's tests.

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "builder_package/Package.h"
#include "builder_package/PackageForm.h"
#include "saver/SaverGlobals.h"
#include "system/SysStringHelper.h"

using Bytes = std::vector<unsigned char>;

inline Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A fresh folder under the system's temporary directory, removed with
// everything in it at the end of the test.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string name = (std::filesystem::temp_directory_path() / "lumetta-test.XXXXXX").string();
    if (mkdtemp(name.data()) != nullptr) m_path = name;
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return m_path; }
  std::string Make(const std::string& name) const {
    const std::string dir = m_path + "/" + name;
    std::filesystem::create_directories(dir);
    return dir;
  }

 private:
  std::string m_path;
};

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::optional<Bytes> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::set<std::string> FilesIn(const std::string& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

inline std::wstring Wide(const std::string& utf8) {
  return CSysStringHelper::GetSingleton().FromUTF8(utf8);
}

// The programs of a package's first form; a missing one is not packed.
struct FormContent {
  std::optional<Bytes> main;
  std::optional<Bytes> preview;
  std::optional<Bytes> settings;
  bool protect = false;  // main program packed with the protected codec
};

// Saves resourceDir/vello.dat holding the given forms (none for an empty
// form list), packing each program from a file as the building tool does.
inline bool SavePackage(const std::string& resourceDir, const std::vector<FormContent>& forms) {
  ScratchFolder sources;
  CPackage package;
  int n = 0;
  for (const FormContent& content : forms) {
    auto* form = new CPackageForm;
    package.AddForm(form);
    const std::string stem = sources.path() + "/" + std::to_string(n++);
    if (content.main) {
      WriteBytes(stem + ".main.swf", *content.main);
      if (!form->PackSWF(Wide(stem + ".main.swf"), content.protect, content.protect ? "demo" : ""))
        return false;
    }
    if (content.preview) {
      WriteBytes(stem + ".preview.swf", *content.preview);
      if (!form->PackSaverPreview(Wide(stem + ".preview.swf"))) return false;
    }
    if (content.settings) {
      WriteBytes(stem + ".settings.swf", *content.settings);
      if (!form->PackSaverSettings(Wide(stem + ".settings.swf"))) return false;
    }
  }
  return package.Save(0, Wide(resourceDir + "/vello.dat"));
}

// Every test starts in a process state where no view has extracted yet.
inline void ResetSaverGlobals() {
  g_full.clear();
  g_preview.clear();
  g_settings.clear();
  g_swfFull.reset();
  g_swfPreview.reset();
  g_swfSettings.reset();
}
