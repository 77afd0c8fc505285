#include <gtest/gtest.h>

#include <algorithm>

#include <memory>
#include <string>
#include <vector>

#include "builder_package/Package.h"
#include "builder_package/PackageForm.h"
#include "demo/DemoSwf.h"
#include "demo/SwfReader_test.h"
#include "system/SysStringHelper.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The package the build made for `make run`.
std::wstring BuiltDemoPackage() {
  return CSysStringHelper::GetSingleton().FromUTF8(std::string(VELLO_BINARY_DIR) +
                                                   "/demo/resources/vello.dat");
}

Bytes Take(bool ok, unsigned char* buffer, int size) {
  std::unique_ptr<unsigned char[]> owned(buffer);
  if (!ok || size < 0) return {};
  return Bytes(buffer, buffer + size);
}

TEST(DemoPackage, HoldsOneFormWithTheThreeGeneratedPrograms) {
  CPackage package;
  ASSERT_TRUE(package.Load(0, BuiltDemoPackage()));
  ASSERT_EQ(package.GetFormCount(), 1);
  CPackageForm* form = package.GetForm(0);
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(form->IsProtected());
  EXPECT_EQ(form->GetSWFVersion(), kDemoSwfVersion);
  EXPECT_EQ(form->GetFormName(), L"lumetta demo");

  unsigned char* buffer = nullptr;
  int size = 0;
  bool ok = form->UnpackSWFToRam(&buffer, size);
  const Bytes main = Take(ok, buffer, size);
  buffer = nullptr;
  ok = form->UnpackSaverPreviewToRam(&buffer, size);
  const Bytes preview = Take(ok, buffer, size);
  buffer = nullptr;
  ok = form->UnpackSaverSettingsToRam(&buffer, size);
  const Bytes settings = Take(ok, buffer, size);

  // The protected main program comes back followed by zeros up to the
  // payload length; players go by the length in the SWF header.
  const Bytes expectedMain = MakeDemoSwf(kDemoMain);
  ASSERT_GE(main.size(), expectedMain.size());
  EXPECT_EQ(Bytes(main.begin(), main.begin() + static_cast<long>(expectedMain.size())), expectedMain);
  EXPECT_TRUE(std::all_of(main.begin() + static_cast<long>(expectedMain.size()), main.end(),
                          [](unsigned char b) { return b == 0; }));
  EXPECT_EQ(preview, MakeDemoSwf(kDemoPreview));
  EXPECT_EQ(settings, MakeDemoSwf(kDemoSettings));
  for (const Bytes* program : {&expectedMain, &preview, &settings}) {
    std::string error;
    const std::optional<SwfFile> swf = ReadSwf(*program, error);
    ASSERT_TRUE(swf.has_value()) << error;
    EXPECT_EQ(swf->version, kDemoSwfVersion);
    EXPECT_EQ(swf->length, program->size());
  }
}

TEST(DemoPackage, IsStoredScrambledNotAsPlainSwf) {
  // The programs travel scrambled; a plain "FWS" in the file would mean the
  // packer skipped the scramble.
  FILE* fp = std::fopen((std::string(VELLO_BINARY_DIR) + "/demo/resources/vello.dat").c_str(), "rb");
  ASSERT_NE(fp, nullptr);
  Bytes file;
  int c;
  while ((c = std::fgetc(fp)) != EOF) file.push_back(static_cast<unsigned char>(c));
  std::fclose(fp);
  const std::string text(file.begin(), file.end());
  EXPECT_EQ(text.find("FWS\x0a"), std::string::npos);
  EXPECT_GT(file.size(), MakeDemoSwf(kDemoMain).size());
}

}  // namespace
