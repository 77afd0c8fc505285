#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "builder_package/Package.h"
#include "builder_package/PackageForm.h"
#include "builder_package/RecordBytes_test.h"
#include "demo/DemoSwf.h"
#include "system/SysStringHelper.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The package the build made for `make run`.
TEST(DemoPackage, HoldsOneFormWithTheThreeGeneratedPrograms) {
  CPackage package;
  ASSERT_TRUE(package.Load(0, CSysStringHelper::GetSingleton().FromUTF8(
                                  std::string(VELLO_BINARY_DIR) + "/demo/resources/vello.dat")));
  ASSERT_EQ(package.GetFormCount(), 1);
  CPackageForm* form = package.GetForm(0);
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(form->IsProtected());
  EXPECT_EQ(form->GetSWFVersion(), kDemoSwfVersion);
  EXPECT_EQ(form->GetFormName(), L"lumetta demo");

  using recordbytes::Unpacked;
  Bytes main = Unpacked(*form, &CPackageForm::UnpackSWFToRam);
  const Bytes preview = Unpacked(*form, &CPackageForm::UnpackSaverPreviewToRam);
  const Bytes settings = Unpacked(*form, &CPackageForm::UnpackSaverSettingsToRam);

  // The protected main program comes back followed by zeros up to the
  // payload length; players go by the length in the SWF header.
  const Bytes expectedMain = MakeDemoSwf(kDemoMain);
  ASSERT_GE(main.size(), expectedMain.size());
  EXPECT_TRUE(std::all_of(main.begin() + static_cast<long>(expectedMain.size()), main.end(),
                          [](unsigned char b) { return b == 0; }));
  main.resize(expectedMain.size());
  EXPECT_EQ(main, expectedMain);
  EXPECT_EQ(preview, MakeDemoSwf(kDemoPreview));
  EXPECT_EQ(settings, MakeDemoSwf(kDemoSettings));
}

}  // namespace
