// vello upgrade of packages of every older version, composed byte by byte.

#include <gtest/gtest.h>

#include "tools/vello/VelloRun_test.h"

using nlohmann::json;
using vellorun::Vello;
using namespace recordbytes;

namespace {

// A package of the version, its forms records of that version too.
Bytes OldPackage(int version) { return StoredFile(version, version).out; }

json Info(const TempDir& dir, const std::string& package) { return vellorun::Info(dir, package, true); }

TEST(Upgrade, EveryOlderVersionKeepsItsContent) {
  TempDir dir;
  for (int version = 1; version <= 13; ++version) {
    SCOPED_TRACE(version);
    const std::string old = dir.Write("v" + std::to_string(version) + ".dat", OldPackage(version));
    const std::string upgraded = dir.File("up" + std::to_string(version) + ".dat");
    json before = Info(dir, old);
    ASSERT_EQ(before["version"], version);
    const auto r = Vello(dir, {"upgrade", old, "-o", upgraded, "--drop-duplicates"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json after = Info(dir, upgraded);
    EXPECT_EQ(after["version"], 14);
    EXPECT_EQ(after["forms"][1]["version"], 14);
    for (json* d : {&before, &after}) {
      d->erase("version");
      d->erase("file");
      for (json& form : (*d)["forms"]) form.erase("version");
    }
    EXPECT_EQ(before, after);
    EXPECT_EQ(Vello(dir, {"verify", upgraded}).exitCode, 0);
  }
  // The content really arrived: spot checks of the richest old version.
  const json v12 = Info(dir, dir.File("up12.dat"));
  EXPECT_EQ(v12["sections"]["files"], (json{{"\xEF\xBF\xBD", 11}, {"\xF0\x90\x80\x80", 6}}));
  EXPECT_EQ(v12["sections"]["secure_vars"], (json{{"alpha", "second"}, {"zeta", "z value"}}));
  EXPECT_EQ(v12["sections"]["resources"]["flash"]["size"], kFlash.size());
  EXPECT_EQ(v12["sections"]["options"]["strings"][8], "option 9");
  EXPECT_EQ(v12["forms"][0]["mask"]["size"], kMask.size());
}

}  // namespace
