#pragma once

// Scratch folders, files and packages for the saver's tests.

#include <stdlib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "builder_package/Package.h"
#include "builder_package/PackageForm.h"
#include "saver/SaverGlobals.h"
#include "saver/SwfFiles.h"
#include "system/SysStringHelper.h"

using Bytes = std::vector<unsigned char>;

inline Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline std::optional<Bytes> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline size_t FileCount(const std::string& dir) {
  std::error_code ec;
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir, ec), {}));
}

// The programs of a package's first form; a missing one is not packed.
struct FormContent {
  std::optional<Bytes> main;
  std::optional<Bytes> preview;
  std::optional<Bytes> settings;
  bool protect = false;  // main program packed with the protected codec
};

// Saves resourceDir/vello.dat holding the given forms, packing each program
// from a file (left beside the package) as the building tool does.
inline bool SavePackage(const std::string& resourceDir, const std::vector<FormContent>& forms) {
  CSysStringHelper& strings = CSysStringHelper::GetSingleton();
  const std::string source = resourceDir + "/source.swf";
  auto write = [&](const Bytes& bytes) {
    std::ofstream(source, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return strings.FromUTF8(source);
  };
  CPackage package;
  for (const FormContent& content : forms) {
    auto* form = new CPackageForm;
    package.AddForm(form);
    const char* key = content.protect ? "demo" : "";
    if (content.main && !form->PackSWF(write(*content.main), content.protect, key)) return false;
    if (content.preview && !form->PackSaverPreview(write(*content.preview))) return false;
    if (content.settings && !form->PackSaverSettings(write(*content.settings))) return false;
  }
  return package.Save(0, strings.FromUTF8(resourceDir + "/vello.dat"));
}

// Every test starts in a process state where no view has extracted yet.
inline void ResetSaverGlobals() {
  DeleteMadeSwfFiles();  // and closes their descriptors
  g_full.clear();
  g_preview.clear();
  g_settings.clear();
  g_swfFull.reset();
  g_swfPreview.reset();
  g_swfSettings.reset();
}

// A scratch folder holding a resource folder and a temporary folder,
// removed with everything in it at the end of the test.
class SaverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSaverGlobals();
    std::string name = (std::filesystem::temp_directory_path() / "lumetta-test.XXXXXX").string();
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    scratch = name;
    resources = Make("Resources");
    temp = Make("T");
  }
  void TearDown() override {
    ResetSaverGlobals();
    std::error_code ec;
    if (!scratch.empty()) std::filesystem::remove_all(scratch, ec);
  }

  std::string Make(const std::string& name) const {
    std::filesystem::create_directories(scratch + "/" + name);
    return scratch + "/" + name;
  }

  std::string scratch;
  std::string resources;
  std::string temp;
};
