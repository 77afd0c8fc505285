// vello upgrade of packages of every older version, composed byte by byte.

#include <gtest/gtest.h>

#include "builder_package/Package.h"
#include "tools/vello/VelloRun_test.h"

using vellorun::Vello;

namespace {

// The upgraded file is what the library saves of the package it loads
// (whose bytes for every version its own tests pin), with the package's
// form records of that old version too.
TEST(Upgrade, EveryOlderVersionIsSavedAsTheLibrarySavesIt) {
  TempDir dir;
  for (int version = 1; version <= 13; ++version) {
    SCOPED_TRACE(version);
    const std::string old = dir.Write("old.dat", recordbytes::StoredFile(version, version).out);
    const std::string upgraded = dir.File("up" + std::to_string(version) + ".dat");
    const auto r = Vello(dir, {"upgrade", old, "-o", upgraded, "--drop-duplicates"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    CPackage package;
    ASSERT_TRUE(package.Load(0, dir.WideFile("old.dat")));
    ASSERT_TRUE(package.Save(0, dir.WideFile("saved.dat")));
    EXPECT_EQ(TempDir::ReadAll(upgraded), TempDir::ReadAll(dir.File("saved.dat")));
  }
}

}  // namespace
