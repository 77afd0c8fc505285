#include "saver/LocalSecurity.h"

#include <dlfcn.h>

#include <gtest/gtest.h>

namespace {

// How often the stand-in plug-in's switch has been thrown.
int FakeCalls() {
  void* module = dlopen(VELLO_FAKE_FLASH_PLAYER, RTLD_LAZY | RTLD_LOCAL);
  if (module == nullptr) return -1;
  auto calls = reinterpret_cast<int (*)()>(dlsym(module, "FakeFlashPlayerCalls"));
  const int result = calls != nullptr ? calls() : -1;
  dlclose(module);
  return result;
}

TEST(LocalSecurity, CallsTheSwitchEveryTimeAndIsFalseWithoutIt) {
  const int before = FakeCalls();
  ASSERT_GE(before, 0);
  EXPECT_TRUE(CallModuleFunction(VELLO_FAKE_FLASH_PLAYER, kDisableLocalSecuritySymbol));
  EXPECT_TRUE(CallModuleFunction(VELLO_FAKE_FLASH_PLAYER, kDisableLocalSecuritySymbol));
  EXPECT_EQ(FakeCalls(), before + 2);

  EXPECT_FALSE(CallModuleFunction(VELLO_FAKE_FLASH_PLAYER, "Flash_EnableEverything"));
  EXPECT_FALSE(CallModuleFunction("/no/such/Flash Player", kDisableLocalSecuritySymbol));
  // Nothing on this platform provides the real plug-in.
  EXPECT_FALSE(CallModuleFunction(kFlashPlayerModulePath, kDisableLocalSecuritySymbol));
}

}  // namespace
