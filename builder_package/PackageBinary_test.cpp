#include "builder_package/PackageBinary.h"

#include <gtest/gtest.h>

#include "builder_package/RecordBytes_test.h"
#include "system/SysFile.h"
#include "system/TempDir_test.h"

namespace {

using recordbytes::Bytes;

// "abc" is stored as E1 C3 A1 (scramble bytes 128, 161, 194), in a record
// of version 1 and length 3, and restored.
TEST(PackageBinaryTest, AbcIsStoredAsE1C3A1AndRestored) {
  const unsigned char abc[] = {'a', 'b', 'c'};
  CPackageBinary binary;
  ASSERT_TRUE(binary.PackDataAndEncrypt(abc, 3));
  EXPECT_EQ(Bytes(binary.GetData(), binary.GetData() + 3), (Bytes{0xE1, 0xC3, 0xA1}));
  EXPECT_EQ(recordbytes::Unpacked(binary, &CPackageBinary::UnPackDataAndDecrypt), recordbytes::Text("abc"));

  TempDir dir;
  CSysFile file;
  ASSERT_TRUE(file.Open(dir.WideFile("b.rec"), L"wb"));
  ASSERT_TRUE(binary.Write(0, file));
  file.Close();
  EXPECT_EQ(TempDir::ReadAll(dir.File("b.rec")),
            (Bytes{1, 0, 0, 0, 3, 0, 0, 0, 0xE1, 0xC3, 0xA1}));
}

// A failed read names its field and leaves the record as it was.
TEST(PackageBinaryTest, FailedReadKeepsTheRecordAndSaysWhy) {
  const struct {
    Bytes record;
    const char* field;
    const char* problem;
  } cases[] = {
      {{1, 0, 0}, "binaryVersion", "cut short"},
      {{1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, "m_length", "length -1 is negative"},
      {{1, 0, 0, 0, 4, 0, 0, 0, 1, 2, 3}, "m_length", "length 4 exceeds the 3 bytes left"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    CPackageBinary binary;
    const unsigned char kept[] = {9};
    ASSERT_TRUE(binary.PackDataAndEncrypt(kept, 1));
    CSysFile file;
    ASSERT_TRUE(file.Open(dir.Put("b.rec", c.record), L"rb"));
    EXPECT_FALSE(binary.Read(0, file));
    EXPECT_EQ(binary.GetReadFailure().field, c.field);
    EXPECT_EQ(binary.GetReadFailure().problem, c.problem);
    EXPECT_EQ(binary.GetLength(), 1);
  }
}

}  // namespace
