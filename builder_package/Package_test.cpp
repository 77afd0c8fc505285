#include "builder_package/Package.h"

#include <gtest/gtest.h>

#include <utility>

#include "builder_package/PackageForm.h"
#include "builder_package/RecordBytes_test.h"
#include "system/RandomBytes_test.h"
#include "system/TempDir_test.h"

namespace {

using namespace recordbytes;

TEST(PackageTest, LoadAddsFormsAndCloseDropsThem) {
  TempDir dir;
  const std::wstring path =
      dir.Put("p.dat", PackageFile(14, {FormRecord(14, {})}, EmptySections()));
  CPackage package;
  EXPECT_FALSE(package.Load(0, dir.WideFile("absent.dat")));
  ASSERT_TRUE(package.Load(0, path));
  ASSERT_TRUE(package.Load(0, path));
  // A count of 0 or less, of forms or of any list or map, reads no entry.
  for (int count : {0, -1, INT32_MIN}) {
    Bytes file = PackageHeader(14, count);
    for (int field = 0; field < 30; ++field)  // DLLs, secure variables, files, strings; globals
      Int(file, field < 4 || field == 17 ? count : 0);
    ASSERT_TRUE(package.Load(0, dir.Put("none.dat", file))) << count;
  }
  EXPECT_EQ(package.GetFormCount(), 2);
  EXPECT_TRUE(package.GetDllBinaries().empty() && package.GetSecureVars().empty() &&
              package.GetFiles().empty() && package.GetEncryptedStrings().empty() &&
              package.GetGlobalVars().empty());
  package.Close();
  EXPECT_EQ(package.GetFormCount(), 0);
  EXPECT_EQ(package.GetHeaderString1(), L"header one");  // the header stays
  EXPECT_FALSE(package.Save(0, dir.WideFile("no/such/folder/p.dat")));
  EXPECT_EQ(package.GetSaveFailure().problem,
            "the folder " + dir.File("no/such/folder") + " does not exist");
}

// Protected programs through a whole package: packed into a form, saved,
// loaded and extracted. Sizes: empty; a multiple of 3 whose text ends in
// a partial Blowfish block, whose filler decodes to extra bytes; a text
// ending in "==".
TEST(PackageTest, ProtectedProgramsSavedLoadedAndExtractedGiveTheProgram) {
  for (const auto& [n, extraBytes] : {std::pair{0, false}, std::pair{999, true}, std::pair{1000, false}}) {
    SCOPED_TRACE(n);
    const Bytes swf = RandomBytes(static_cast<std::size_t>(n), static_cast<std::uint32_t>(n));
    TempDir dir;
    {
      CPackage package;
      auto* form = new CPackageForm;
      package.AddForm(form);
      ASSERT_TRUE(form->PackSWF(dir.Put("in.swf", swf), true, "pass"));
      ASSERT_TRUE(package.Save(0, dir.WideFile("vello.dat")));
    }
    CPackage package;
    ASSERT_TRUE(package.Load(0, dir.WideFile("vello.dat")));
    ASSERT_EQ(package.GetFormCount(), 1);
    CPackageForm& form = *package.GetForm(0);
    ASSERT_TRUE(form.IsProtected());
    EXPECT_EQ(form.GetSWFVersion(), n >= 4 ? swf[3] : 0);  // byte 3 of the program
    const int L = (n + 2) / 3 * 4;
    EXPECT_EQ(form.GetSWFSize(), (L + 85) / 86 * 128);

    // The file holds the decoded bytes: the program, then in the precise
    // case bytes decoded from the filler, at most 3 for each 4 of its 86 - r.
    ASSERT_TRUE(form.UnpackSWF(dir.WideFile("out.swf")));
    const Bytes file = TempDir::ReadAll(dir.File("out.swf"));
    ASSERT_GE(file.size(), swf.size());
    EXPECT_EQ(Bytes(file.begin(), file.begin() + n), swf);
    EXPECT_EQ(file.size() > swf.size(), extraBytes);
    EXPECT_LE(file.size(), swf.size() + (86 - L % 86 + 3) / 4 * 3);
    // The array holds them too, then zeros up to the payload length.
    Bytes ram = file;
    ram.resize(static_cast<std::size_t>(form.GetSWFSize()), 0);
    EXPECT_EQ(Unpacked(form, &CPackageForm::UnpackSWFToRam), ram);
  }
}

}  // namespace
