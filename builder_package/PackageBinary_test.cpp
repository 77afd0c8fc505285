#include "builder_package/PackageBinary.h"

#include <gtest/gtest.h>

#include "builder_package/RecordBytes_test.h"
#include "system/SysFile.h"
#include "system/TempDir_test.h"

namespace {

using recordbytes::Bytes;

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
