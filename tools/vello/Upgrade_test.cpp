// vello upgrade of packages of every older version, composed byte by byte,
// and an upgrade cut short while writing.

#include <gtest/gtest.h>

#include "tools/vello/VelloRun_test.h"

using nlohmann::json;
using vellorun::Vello;
using namespace recordbytes;

namespace {

void Binary(Bytes& out, const Bytes& plain) { Append(out, BinaryRecord(plain)); }
void SecretText(Bytes& out, const std::string& text) { Append(out, EncryptedRecord(text)); }
void Resource(Bytes& out, const Bytes& plain, int level, int k) {
  Append(out, recordbytes::Resource(plain, level, k));
}

// The sections a package of the version holds, each with content.
Bytes Sections(int version) {
  Bytes out;
  if (version >= 2) Int(out, 1), Binary(out, Text("dll bytes"));
  if (version >= 3) Int(out, 1), String(out, "pin"), SecretText(out, "1234");
  if (version >= 4) Int(out, 2), String(out, "a/b.txt"), Binary(out, Text("nested")), String(out, "c"), Binary(out, {});
  if (version >= 5) {
    Int(out, 1), SecretText(out, "listed");
    for (int v : {21, 22, 23, 24}) Int(out, v);
    Bool(out, true), String(out, "option one"), Bool(out, false), Int(out, 25);
  }
  if (version >= 6) Resource(out, vellorun::Compressible(4000, 's'), 9, 182);
  if (version >= 7) String(out, "option two");
  if (version >= 8) Resource(out, vellorun::Compressible(500, 't'), 9, 184);
  if (version >= 9) Int(out, 1), String(out, "g"), SecretText(out, "global");
  if (version >= 10)
    for (int n = 3; n <= 9; ++n) String(out, "option " + std::to_string(n));
  if (version >= 11) Bool(out, true);
  if (version >= 12) Resource(out, vellorun::Compressible(6000, 'f'), 1, 84);
  return out;
}

Bytes OldPackage(int version) {
  Form form;
  form.swf = Scrambled(vellorun::Fws(300, 8, version), 122);
  const Bytes mask = vellorun::Compressible(800, 'k');
  form.mask = Scrambled(Compressed(mask, 9), 122);
  form.unpackedMask = static_cast<int32_t>(mask.size());
  form.preview = Scrambled(vellorun::Fws(60, 8, 1), 122);
  return PackageFile(version, {FormRecord(version, form)}, Sections(version));
}

json Info(const TempDir& dir, const std::string& package) { return vellorun::Info(dir, package, true); }

TEST(Upgrade, EveryOlderVersionKeepsItsContent) {
  TempDir dir;
  for (int version = 1; version <= 13; ++version) {
    SCOPED_TRACE(version);
    const std::string old = dir.Write("v" + std::to_string(version) + ".dat", OldPackage(version));
    const std::string upgraded = dir.File("up" + std::to_string(version) + ".dat");
    json before = Info(dir, old);
    ASSERT_EQ(before["version"], version);
    const auto r = Vello(dir, {"upgrade", old, "-o", upgraded});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json after = Info(dir, upgraded);
    EXPECT_EQ(after["version"], 14);
    EXPECT_EQ(after["forms"][0]["version"], 14);
    for (json* d : {&before, &after}) {
      d->erase("version");
      d->erase("file");
      (*d)["forms"][0].erase("version");
    }
    EXPECT_EQ(before, after);
    EXPECT_EQ(Vello(dir, {"verify", upgraded}).exitCode, 0);
  }
  // The content really arrived: spot checks of the richest old version.
  const json v12 = Info(dir, dir.File("up12.dat"));
  EXPECT_EQ(v12["sections"]["files"], (json{{"a/b.txt", 6}, {"c", 0}}));
  EXPECT_EQ(v12["sections"]["secure_vars"], (json{{"pin", "1234"}}));
  EXPECT_EQ(v12["sections"]["resources"]["flash"]["size"], 6000);
  EXPECT_EQ(v12["sections"]["options"]["strings"][8], "option 9");
  EXPECT_EQ(v12["forms"][0]["mask"]["size"], 800);
}

TEST(Upgrade, InPlaceKeepsThePermissionBits) {
  TempDir dir;
  const std::string package = dir.Write("p.dat", OldPackage(5));
  chmod(package.c_str(), 0640);
  ASSERT_EQ(Vello(dir, {"upgrade", package}).exitCode, 0);
  EXPECT_EQ(Info(dir, package)["version"], 14);
  struct stat st;
  ASSERT_EQ(stat(package.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(dir.EntryCount(), 3u)
      << "only the package and the captured output";
}

TEST(Upgrade, CutShortWhileWritingLeavesTheOldPackage) {
  TempDir dir;
  const Bytes original = OldPackage(11);
  const std::string package = dir.Write("p.dat", original);
  // The limit lets the old file be read but not the new one be written.
  const auto r = Vello(dir, {"upgrade", package}, static_cast<long>(original.size()) / 2);
  EXPECT_NE(r.exitCode, 0);
  EXPECT_EQ(TempDir::ReadAll(package), original);
}

}  // namespace
