// What vello refuses, and how it says so.

#include <gtest/gtest.h>

#include "tools/vello/VelloRun_test.h"

using vellorun::Vello;
using namespace recordbytes;

namespace {

// A version-14 package with one plain form holding program, then the
// sections with the files map given and the splash as stored.
Bytes PackageWith(const Bytes& program, const std::vector<std::string>& fileNames, const Bytes& splashSection = {}) {
  Form form;
  form.swf = Scrambled(program, 122);
  Bytes sections(8, 0);  // no DLL binary, no secure variable
  Int(sections, static_cast<int32_t>(fileNames.size()));
  for (const std::string& name : fileNames) {
    String(sections, name);
    Append(sections, BinaryRecord(Text("escaped")));
  }
  Append(sections, Bytes(9 * 4, 0));  // no encrypted string, the options
  Append(sections, splashSection.empty() ? Bytes(8, 0) : splashSection);
  Append(sections, Bytes(16 * 4, 0));  // the sections after the splash
  return PackageFile(14, {FormRecord(14, form)}, sections);
}

TEST(Refusals, DamagedPackage) {
  TempDir dir;
  const Bytes whole = PackageWith(vellorun::Fws(64, 9, 1), {});
  const std::string cut = dir.Write("cut.dat", Bytes(whole.begin(), whole.begin() + 150));

  const auto verify = Vello(dir, {"verify", cut});
  EXPECT_EQ(verify.exitCode, 1);
  EXPECT_NE(verify.out.find(cut + ": not a readable package: at byte"), std::string::npos) << verify.out;

  const auto info = Vello(dir, {"info", cut});
  EXPECT_EQ(info.exitCode, 3);
  EXPECT_NE(info.err.find(cut + ": not a readable package: at byte"), std::string::npos) << info.err;

  const auto missing = Vello(dir, {"info", dir.File("absent.dat")});
  EXPECT_EQ(missing.exitCode, 3);
  EXPECT_NE(missing.err.find("absent.dat: cannot open: No such file or directory"), std::string::npos);
  EXPECT_EQ(Vello(dir, {"verify", dir.File("absent.dat")}).exitCode, 3);
  EXPECT_EQ(Vello(dir, {"verify", dir.path().string()}).exitCode, 3);
}

TEST(Refusals, VerifyReportsEachFaultOnItsOwnLine) {
  TempDir dir;
  Bytes notSwf = vellorun::Fws(64, 9, 1);
  notSwf[0] = 'X';
  Bytes shortSwf = vellorun::Fws(64, 9, 1);
  shortSwf[4] = 200;  // states 200 bytes, holds 64
  Bytes badSplash;
  Int(badSplash, 5), Int(badSplash, 100);
  for (unsigned char b : Scrambled({1, 2, 3, 4, 5}, 182)) badSplash.push_back(b);
  Bytes trailing = PackageWith(shortSwf, {}, badSplash);
  trailing.push_back(0);

  const std::pair<Bytes, std::vector<std::string>> cases[] = {
      {PackageWith(notSwf, {}), {"form 0 main program has no SWF signature (starts with 58 57 53)"}},
      {trailing,
       {"1 bytes after the last section", "form 0 main program states 200 bytes but holds 64 bytes",
        "splash does not inflate to its recorded 100 bytes (5 packed)"}},
  };
  for (const auto& [bytes, faults] : cases) {
    const std::string package = dir.Write("p.dat", bytes);
    const auto r = Vello(dir, {"verify", package});
    EXPECT_EQ(r.exitCode, 1);
    std::string expected;
    for (const std::string& fault : faults) expected += package + ": " + fault + "\n";
    EXPECT_EQ(r.out, expected);
  }
  const std::string sound = dir.Write("s.dat", PackageWith(vellorun::Cws(vellorun::Fws(500, 9, 1)), {"ok"}));
  EXPECT_EQ(Vello(dir, {"verify", sound}).exitCode, 0);
}

TEST(Refusals, ExtractRefusesNamesLeadingOutOfTheFolder) {
  TempDir dir;
  std::filesystem::create_directories(dir.File("outside"));
  std::filesystem::create_directories(dir.File("out"));
  std::filesystem::create_directory_symlink(dir.File("outside"), dir.File("out/files"));
  const std::pair<std::string, std::string> cases[] = {
      {"../escape", "climbs out"},
      {"a/../../escape", "climbs out"},
      {"/tmp/vello-escape", "absolute"},
      {"x", "symbolic link"},  // files/ itself is a link to outside
  };
  for (const auto& [name, why] : cases) {
    SCOPED_TRACE(name);
    const std::string package = dir.Write("p.dat", PackageWith(vellorun::Fws(64, 9, 1), {"fine", name}));
    const auto r = Vello(dir, {"extract", package, "-o", dir.File("out")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("out/main.swf"))) << "nothing written";
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("outside")));
  }
  EXPECT_FALSE(std::filesystem::exists("/tmp/vello-escape"));
}

TEST(Refusals, ExtractReplacesOnlyWithForce) {
  TempDir dir;
  const Bytes program = vellorun::Fws(64, 9, 1);
  const std::string package = dir.Write("p.dat", PackageWith(program, {}));
  const Bytes mine = {'m', 'i', 'n', 'e'};
  dir.Write("out/main.swf", {});
  std::filesystem::create_directories(dir.File("out"));
  dir.Write("out/main.swf", mine);
  const auto refused = Vello(dir, {"extract", package, "-o", dir.File("out")});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("main.swf exists (use --force to replace it)"), std::string::npos) << refused.err;
  EXPECT_EQ(TempDir::ReadAll(dir.File("out/main.swf")), mine);
  EXPECT_EQ(Vello(dir, {"extract", package, "-o", dir.File("out"), "--force"}).exitCode, 0);
  EXPECT_EQ(TempDir::ReadAll(dir.File("out/main.swf")), program);
}

TEST(Refusals, PackWithAMissingInputNamesItAndWritesNothing) {
  TempDir dir;
  const std::string main = dir.Write("m.swf", vellorun::Fws(64, 9, 1));
  const auto r = Vello(dir, {"pack", "-o", dir.File("out.dat"), "--main", main, "--preview", dir.File("nope.swf")});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_NE(r.err.find("cannot read the preview program " + dir.File("nope.swf") + ": No such file or directory"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.dat")));

  const auto incompressible = Vello(dir, {"pack", "-o", dir.File("out.dat"), "--main", main, "--splash", main});
  EXPECT_EQ(incompressible.exitCode, 1);
  EXPECT_NE(incompressible.err.find("the splash " + main + ": cannot be packed"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.dat")));
}

TEST(Refusals, UsageErrorsExitWithTwo) {
  TempDir dir;
  const std::vector<std::string> cases[] = {
      {},
      {"info"},
      {"pack", "-o", "x.dat"},
      {"pack", "-o", "x.dat", "--manifest", "m.json", "--main", "a.swf"},
      {"pack", "-o", "x.dat", "--main", "a.swf", "--file", "no-equals"},
      {"set-swf-version", "p.dat", "--form", "0", "300"},
      {"frobnicate"}};
  for (const auto& args : cases) EXPECT_EQ(Vello(dir, args).exitCode, 2) << testing::PrintToString(args);
  const auto help = Vello(dir, {"extract", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Example:"), std::string::npos);
  EXPECT_NE(help.out.find("3 unreadable input"), std::string::npos);
}

}  // namespace
