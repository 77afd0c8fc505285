// vello pack, info and extract end to end: what is packed is described
// exactly and comes back byte for byte.

#include <gtest/gtest.h>

#include "tools/vello/VelloRun_test.h"

using nlohmann::json;
using vellorun::Bytes;
using vellorun::Vello;

namespace {

struct Inputs {
  Bytes main = vellorun::Fws(1000, 10, 1);
  Bytes preview = vellorun::Cws(vellorun::Fws(3000, 9, 2));
  Bytes settings = vellorun::Fws(200, 8, 3);
  Bytes mask = recordbytes::Words(11, 5000);
  Bytes splash = recordbytes::Words(12, 9000), trayIcon = recordbytes::Words(13, 700);
  Bytes flash = recordbytes::Words(14, 20000), xul = recordbytes::Words(15, 3000);
  Bytes topFile = {1, 2, 3}, nestedFile = vellorun::Fws(50, 6, 9), emptyFile;
  Bytes dll = vellorun::Fws(77, 1, 4);
};

class PackExtract : public ::testing::Test {
 protected:
  std::vector<std::string> PackArguments(bool protect) {
    std::vector<std::string> args = {
        "pack",        "--force",      "-o",           dir.File("out.dat"),
        "--main",      dir.Write("main.swf", in.main),
        "--preview",   dir.Write("preview.swf", in.preview),
        "--settings",  dir.Write("settings.swf", in.settings),
        "--mask",      dir.Write("mask.raw", in.mask),
        "--name",      "Aurora",
        "--splash",    dir.Write("splash.png", in.splash),
        "--tray-icon", dir.Write("tray.ico", in.trayIcon),
        "--flash",     dir.Write("flash.raw", in.flash),
        "--xul",       dir.Write("xul.xml", in.xul),
        "--file",      "top.bin=" + dir.Write("top.bin", in.topFile),
        "--file",      "levels/deep/one.swf=" + dir.Write("nested.swf", in.nestedFile),
        "--file",      "empty=" + dir.Write("empty", in.emptyFile),
        "--secure-var", "password=open sesame",
        "--global-var", "speed=fast",
        "--dll",       dir.Write("plugin.dll", in.dll)};
    if (protect) args.push_back("--protect");
    return args;
  }

  json Info(const std::string& package, bool showValues) { return vellorun::Info(dir, package, showValues); }

  void ExpectExtracted(const std::string& folder) {
    const std::pair<const char*, const Bytes*> expected[] = {
        {"main.swf", &in.main},       {"preview.swf", &in.preview},  {"settings.swf", &in.settings},
        {"mask.bin", &in.mask},       {"splash.bin", &in.splash},    {"tray-icon.bin", &in.trayIcon},
        {"flash.bin", &in.flash},     {"xul.bin", &in.xul},          {"files/top.bin", &in.topFile},
        {"files/levels/deep/one.swf", &in.nestedFile}, {"files/empty", &in.emptyFile}};
    for (const auto& [name, bytes] : expected)
      EXPECT_EQ(TempDir::ReadAll(dir.File(folder + "/" + name)), *bytes) << name;
  }

  TempDir dir;
  Inputs in;
};

TEST_F(PackExtract, PlainPackageIsDescribedExactlyAndExtractsByteForByte) {
  const auto packed = Vello(dir, PackArguments(false));
  ASSERT_EQ(packed.exitCode, 0) << packed.err;

  const json info = Info(dir.File("out.dat"), false);
  const json expectedForm = {
      {"index", 0},
      {"version", 14},
      {"name", "Aurora"},
      {"main", {{"stored_size", 1000}, {"size", 1000}, {"swf_version", 10}, {"protected", false}}},
      {"mask", {{"packed_size", recordbytes::Compressed(in.mask, 9).size()}, {"size", 5000}}},
      {"preview_size", in.preview.size()},
      {"settings_size", 200}};
  json form = info["forms"][0];
  form.erase("fields");
  EXPECT_EQ(form, expectedForm);
  EXPECT_EQ(info["forms"].size(), 1u);
  EXPECT_EQ(info["version"], 14);

  const json resource = [](const Bytes& b, int level) {
    return json{{"packed_size", recordbytes::Compressed(b, level).size()}, {"size", b.size()}};
  }(in.splash, 9);
  json sections = info["sections"];
  EXPECT_EQ(sections["resources"]["splash"], resource);
  EXPECT_EQ(sections["resources"]["tray_icon"]["packed_size"], recordbytes::Compressed(in.trayIcon, 9).size());
  EXPECT_EQ(sections["resources"]["flash"]["packed_size"], recordbytes::Compressed(in.flash, 1).size());
  EXPECT_EQ(sections["resources"]["xul"]["size"], 3000);
  EXPECT_EQ(sections["files"], (json{{"empty", 0}, {"levels/deep/one.swf", 50}, {"top.bin", 3}}));
  EXPECT_EQ(sections["dll_binaries"], json::array({77}));
  // Names only, unless values are asked for.
  EXPECT_EQ(sections["secure_vars"], (json{{"password", nullptr}}));
  EXPECT_EQ(sections["global_vars"], (json{{"speed", nullptr}}));
  const json withValues = Info(dir.File("out.dat"), true)["sections"];
  EXPECT_EQ(withValues["secure_vars"], (json{{"password", "open sesame"}}));
  EXPECT_EQ(withValues["global_vars"], (json{{"speed", "fast"}}));

  // The numbered fields the format leaves unnamed only when asked for.
  const auto summary = Vello(dir, {"info", dir.File("out.dat")}), all = Vello(dir, {"info", "--all", dir.File("out.dat")});
  for (const char* unnamed : {"header: ", "  fields: ", "options: "}) {
    EXPECT_EQ(summary.out.find(unnamed), std::string::npos) << summary.out;
    EXPECT_NE(all.out.find(unnamed), std::string::npos) << all.out;
  }
  EXPECT_NE(summary.out.find("file top.bin: 3 bytes"), std::string::npos) << summary.out;

  const auto extracted = Vello(dir, {"extract", dir.File("out.dat"), "-o", dir.File("x")});
  ASSERT_EQ(extracted.exitCode, 0) << extracted.err;
  ExpectExtracted("x");
  EXPECT_EQ(Vello(dir, {"verify", dir.File("out.dat")}).exitCode, 0);
}

TEST_F(PackExtract, ProtectedProgramsComeBackWhole) {
  // 999 bytes: Base64 text without "=", so the last block's filler decodes
  // too; 1000 bytes: text ending in "=".
  for (size_t size : {999u, 1000u, 40u}) {
    SCOPED_TRACE(size);
    in.main = vellorun::Fws(size, 11, static_cast<int>(size));
    const auto packed = Vello(dir, PackArguments(true));
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
    const json main = Info(dir.File("out.dat"), false)["forms"][0]["main"];
    EXPECT_EQ(main["protected"], true);
    EXPECT_EQ(main["rsa_key_bits"], 1024);
    EXPECT_EQ(main["swf_version"], 11);
    EXPECT_EQ(main["stored_size"].get<int>() % 128, 0);

    const auto extracted = Vello(dir, {"extract", dir.File("out.dat"), "-o", dir.File("p"), "--force"});
    ASSERT_EQ(extracted.exitCode, 0) << extracted.err;
    ExpectExtracted("p");
  }
}

TEST_F(PackExtract, PlainPackageBytesAreThoseOfTheFormat) {
  const Bytes swf = vellorun::Fws(100, 7, 5);
  const auto r = Vello(dir, {"pack", "-o", dir.File("plain.dat"), "--main", dir.Write("m.swf", swf), "--name", "tiny"});
  ASSERT_EQ(r.exitCode, 0) << r.err;

  // Every field pack does not set is empty: four zero bytes, whether an
  // int, a flag, a string or a run.
  using namespace recordbytes;
  const auto empty = [](Bytes& out, int fields) { out.resize(out.size() + 4 * fields, 0); };
  Bytes expected;
  Int(expected, 14);
  empty(expected, 10);  // header: int, two strings, three flags, string, three ints
  Int(expected, 1);     // one form
  Int(expected, 14);
  empty(expected, 26);  // string, flag, 7 ints, 3 flags, int, 4 flags, 6 ints, string, 2 flags
  recordbytes::Run(expected, Scrambled(swf, 122));
  empty(expected, 3);  // no mask, uint 1
  Bool(expected, true);  // flag 11
  empty(expected, 3);
  String(expected, "tiny");
  empty(expected, 10);  // int, no preview or settings, flag 12, uint 2, two ints, no key
                        // text, the SWF version field (plain), flag 13
  Append(expected, EmptySections());
  EXPECT_EQ(TempDir::ReadAll(dir.File("plain.dat")), expected);
}

TEST_F(PackExtract, ManifestMakesSeveralForms) {
  const Bytes second = vellorun::Fws(333, 12, 7), secondPreview = vellorun::Fws(90, 12, 8);
  dir.Write("a.swf", in.main);
  dir.Write("b.swf", second);
  dir.Write("b-preview.swf", secondPreview);
  dir.Write("x.xml", in.xul);
  const std::string manifest = R"({
    "forms": [
      {"main": "a.swf", "name": "first"},
      {"main": "b.swf", "protect": true, "preview": "b-preview.swf", "name": "second"}
    ],
    "xul": "x.xml",
    "files": {"docs/readme.txt": "x.xml"},
    "global_vars": {"g": "v"}
  })";
  dir.Write("m.json", Bytes(manifest.begin(), manifest.end()));
  const auto packed = Vello(dir, {"pack", "-o", dir.File("multi.dat"), "--manifest", dir.File("m.json")});
  ASSERT_EQ(packed.exitCode, 0) << packed.err;

  const json info = Info(dir.File("multi.dat"), true);
  ASSERT_EQ(info["forms"].size(), 2u);
  EXPECT_EQ(info["forms"][0]["name"], "first");
  EXPECT_EQ(info["forms"][0]["main"]["protected"], false);
  EXPECT_EQ(info["forms"][1]["name"], "second");
  EXPECT_EQ(info["forms"][1]["main"]["protected"], true);
  EXPECT_EQ(info["forms"][1]["preview_size"], 90);
  EXPECT_EQ(info["sections"]["global_vars"], (json{{"g", "v"}}));

  ASSERT_EQ(Vello(dir, {"extract", dir.File("multi.dat"), "--form", "1", "-o", dir.File("f1")}).exitCode, 0);
  EXPECT_EQ(TempDir::ReadAll(dir.File("f1/main.swf")), second);
  EXPECT_EQ(TempDir::ReadAll(dir.File("f1/preview.swf")), secondPreview);
  EXPECT_EQ(TempDir::ReadAll(dir.File("f1/files/docs/readme.txt")), in.xul);
  ASSERT_EQ(Vello(dir, {"extract", dir.File("multi.dat"), "-o", dir.File("f0")}).exitCode, 0);
  EXPECT_EQ(TempDir::ReadAll(dir.File("f0/main.swf")), in.main);
  EXPECT_FALSE(std::filesystem::exists(dir.File("f0/preview.swf")));

  EXPECT_EQ(Vello(dir, {"extract", dir.File("multi.dat"), "--form", "2", "-o", dir.File("f2")}).exitCode, 2);
}

TEST_F(PackExtract, SetSwfVersionSetsPlainProgramsOnly) {
  ASSERT_EQ(Vello(dir, {"pack", "-o", dir.File("v.dat"), "--main", dir.Write("m.swf", in.main)}).exitCode, 0);
  const auto r = Vello(dir, {"set-swf-version", dir.File("v.dat"), "--form", "0", "32"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // Byte 3 set through the scramble is the form's own (FormVersionTest).
  EXPECT_EQ(Info(dir.File("v.dat"), false)["forms"][0]["main"]["swf_version"], 32);

  ASSERT_EQ(Vello(dir, {"pack", "-o", dir.File("p.dat"), "--main", dir.File("m.swf"), "--protect"}).exitCode, 0);
  EXPECT_TRUE(vellorun::Said(Vello(dir, {"set-swf-version", dir.File("p.dat"), "--form", "0", "32"}), 1,
                             "is protected: its SWF version is fixed when it is packed"));
}

// The fields the format leaves unnamed, each read from its own place
// (StoredFile's values differ from field to field).
TEST_F(PackExtract, InfoShowsEachHeaderAndOptionField) {
  const json described = Info(dir.Write("p.dat", recordbytes::StoredFile(14).out), true);
  EXPECT_EQ(described["header"], (json{{"int1", -1}, {"string1", "header one"}, {"string2", ""},
                                       {"flag1", true}, {"flag2", false}, {"flag3", true},
                                       {"string3", "header three"}, {"int2", 2}, {"int3", 3}, {"int4", 4}}));
  json strings = {"option one", "option two"};
  for (int n = 3; n <= 9; ++n) strings.push_back("option " + std::to_string(n));
  EXPECT_EQ(described["sections"]["options"],
            (json{{"int1", 11}, {"int2", 12}, {"int3", 13}, {"int4", 14}, {"int5", -15}, {"flag1", true},
                  {"flag2", true}, {"flag3", true}, {"strings", strings}}));
}

}  // namespace
