#include "system/Assert.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace {

void CheckNotNull(const void* pv) { VELLO_ASSERT(pv != NULL); }

TEST(AssertDeathTest, ReportsFunctionSourceLineAndExpandedExpression) {
  // Line of the VELLO_ASSERT above: the report must carry the real line.
  EXPECT_DEATH(CheckNotNull(nullptr),
               "Assertion failed: \\(pv != __null\\), function CheckNotNull, "
               "file system/Assert_test, line 9\\.");
}

}  // namespace
