// Byte runs of megabytes take memory of their own (system/ByteRun.h) and
// are descrambled a piece at a time: a package holding them, composed here
// byte by byte, is read, unpacked, saved and packed exactly.

#include <gtest/gtest.h>

#include "builder_package/Package.h"
#include "builder_package/PackageBinary.h"
#include "builder_package/PackageForm.h"
#include "builder_package/RecordBytes_test.h"
#include "system/ByteRun.h"
#include "system/RandomBytes_test.h"
#include "system/TempDir_test.h"

using namespace recordbytes;

TEST(LargeRunsTest, ProgramsAndFilesOfMegabytesComeBackSaveAndPackByteForByte) {
  // Sizes across the piece and page boundaries: not a multiple of 256, one
  // exactly a huge page, one just over.
  const Bytes program = RandomBytes(5 * kByteRunPage / 2 + 3, 7);
  const Bytes preview = RandomBytes(kByteRunPage, 11);
  const Bytes file = RandomBytes(kByteRunPage + 1, 13);

  Form form;
  form.swf = Scrambled(program, 122);
  form.preview = Scrambled(preview, 122);
  Bytes stored = PackageFile(14, {FormRecord(14, form)}, Bytes(8, 0));
  Int(stored, 1);  // after no DLL binary and no secure variable, one file
  String(stored, "big");
  Append(stored, BinaryRecord(file));
  stored.resize(stored.size() + 27 * 4, 0);  // the other sections, empty

  TempDir dir;
  CPackage package;
  ASSERT_TRUE(package.Load(0, dir.Put("in.dat", stored))) << package.GetReadFailure().ToString();
  CPackageForm& loaded = *package.GetForm(0);
  EXPECT_EQ(Unpacked(loaded, &CPackageForm::UnpackSWFToRam), program);
  EXPECT_EQ(Unpacked(loaded, &CPackageForm::UnpackSaverPreviewToRam), preview);
  ASSERT_TRUE(loaded.UnpackSWF(dir.WideFile("main.swf")));
  EXPECT_EQ(TempDir::ReadAll(dir.File("main.swf")), program);

  ASSERT_NE(package.FindFile(L"big"), nullptr);
  EXPECT_EQ(Unpacked(*package.FindFile(L"big"), &CPackageBinary::UnPackDataAndDecrypt), file);

  ASSERT_TRUE(package.Save(0, dir.WideFile("out.dat")));
  EXPECT_EQ(TempDir::ReadAll(dir.File("out.dat")), stored);

  // Packed from files, they are stored scrambled as composed above.
  CPackageForm packed;
  ASSERT_TRUE(packed.PackSWF(dir.Put("packed.swf", program), false, ""));
  ASSERT_EQ(packed.GetSWFSize(), static_cast<int>(program.size()));
  EXPECT_EQ(Bytes(packed.GetStoredSWF(), packed.GetStoredSWF() + program.size()), form.swf);
  ASSERT_TRUE(package.PackFile(L"packed", dir.Put("packed.bin", file)));
  const unsigned char* data = package.FindFile(L"packed")->GetData();
  EXPECT_EQ(Bytes(data, data + file.size()), Scrambled(file, 125));
}
