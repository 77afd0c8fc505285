// Byte runs of megabytes take memory of their own (system/ByteRun.h) and
// are descrambled a piece at a time on the way out: a package holding
// them, composed here byte by byte, is read, unpacked and saved exactly.

#include <gtest/gtest.h>

#include "builder_package/Package.h"
#include "builder_package/PackageBinary.h"
#include "builder_package/PackageForm.h"
#include "builder_package/RecordBytes_test.h"
#include "system/ByteRun.h"
#include "system/RandomBytes_test.h"
#include "system/TempDir_test.h"

using recordbytes::Bytes;

TEST(LargeRunsTest, ProgramsAndFilesOfMegabytesComeBackAndSaveByteForByte) {
  // Sizes across the piece and page boundaries: not a multiple of 256, one
  // exactly a huge page, one just over.
  const Bytes program = RandomBytes(5 * kByteRunPage / 2 + 3, 7);
  const Bytes preview = RandomBytes(kByteRunPage, 11);
  const Bytes file = RandomBytes(kByteRunPage + 1, 13);

  recordbytes::Form form;
  form.swf = recordbytes::Scrambled(program, 122);
  form.preview = recordbytes::Scrambled(preview, 122);
  Bytes stored = recordbytes::PackageFile(14, {recordbytes::FormRecord(14, form)}, Bytes(8, 0));
  recordbytes::Int(stored, 1);  // after no DLL binary and no secure variable, one file
  recordbytes::String(stored, "big");
  recordbytes::Append(stored, recordbytes::BinaryRecord(file));
  stored.resize(stored.size() + 27 * 4, 0);  // the other sections, empty

  TempDir dir;
  CPackage package;
  ASSERT_TRUE(package.Load(0, dir.Put("in.dat", stored))) << package.GetReadFailure().ToString();
  CPackageForm& loaded = *package.GetForm(0);
  EXPECT_EQ(recordbytes::Unpacked(loaded, &CPackageForm::UnpackSWFToRam), program);
  EXPECT_EQ(recordbytes::Unpacked(loaded, &CPackageForm::UnpackSaverPreviewToRam), preview);
  ASSERT_TRUE(loaded.UnpackSWF(dir.WideFile("main.swf")));
  EXPECT_EQ(TempDir::ReadAll(dir.File("main.swf")), program);

  ASSERT_NE(package.FindFile(L"big"), nullptr);
  EXPECT_EQ(recordbytes::Unpacked(*package.FindFile(L"big"), &CPackageBinary::UnPackDataAndDecrypt), file);

  ASSERT_TRUE(package.Save(0, dir.WideFile("out.dat")));
  EXPECT_EQ(TempDir::ReadAll(dir.File("out.dat")), stored);
}

TEST(LargeRunsTest, ProgramsPackedFromLargeFilesAreStoredScrambled) {
  const Bytes program = RandomBytes(3 * kByteRunPage + 5, 17);
  TempDir dir;
  CPackageForm form;
  ASSERT_TRUE(form.PackSWF(dir.Put("main.swf", program), false, ""));
  ASSERT_EQ(form.GetSWFSize(), static_cast<int>(program.size()));
  const Bytes expected = recordbytes::Scrambled(program, 122);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), form.GetStoredSWF()));

  CPackage package;
  const Bytes data = RandomBytes(kByteRunPage + 7, 19);
  ASSERT_TRUE(package.PackFile(L"data", dir.Put("data", data)));
  const Bytes scrambled = recordbytes::Scrambled(data, 125);
  EXPECT_TRUE(std::equal(scrambled.begin(), scrambled.end(), package.FindFile(L"data")->GetData()));
}
