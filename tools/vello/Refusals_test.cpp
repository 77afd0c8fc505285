// What vello refuses, and how it says so.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include "tools/vello/VelloRun_test.h"

using vellorun::PackageWith;
using vellorun::Said;
using vellorun::Vello;
using namespace recordbytes;

namespace {

TEST(Refusals, DamagedPackage) {
  TempDir dir;
  const Bytes whole = PackageWith(vellorun::Fws(64, 9, 1), {});
  const std::string cut = dir.Write("cut.dat", Bytes(whole.begin(), whole.begin() + 150));
  EXPECT_EQ(Vello(dir, {"info", cut}).exitCode, 3);

  // Said before any detail, and the detail in words: the field's meaning,
  // forms counted from 0 as --form counts them.
  const std::string jpeg = dir.Write("photo.jpg", {0xFF, 0xD8, 0xFF, 0xE0, 'J', 'F', 'I', 'F', '0', '0', '0', '0'});
  EXPECT_EQ(Vello(dir, {"info", jpeg}).err, "vello info: " + jpeg +
                                                ": not a vello package (or a damaged one): at byte 12, header, "
                                                "text 1: length 808464432 exceeds the 0 bytes left\n");
  Bytes badForm = whole;
  const size_t keyTextSize = whole.size() - EmptySections().size() - 3 * 4;  // then SWF version, flag 13
  badForm[keyTextSize + 3] = 0x80;
  EXPECT_EQ(Vello(dir, {"info", dir.Write("form.dat", badForm)}).err,
            "vello info: " + dir.File("form.dat") + ": not a vello package (or a damaged one): at byte " +
                std::to_string(keyTextSize + 4) + ", form 0, key text size: length -2147483648 is negative\n");

  EXPECT_TRUE(
      Said(Vello(dir, {"info", dir.File("absent.dat")}), 3, "absent.dat: cannot open: No such file or directory"));
  EXPECT_EQ(Vello(dir, {"verify", dir.File("absent.dat")}).exitCode, 3);
  EXPECT_EQ(Vello(dir, {"verify", dir.path().string()}).exitCode, 3);
}

TEST(Refusals, VerifyReportsEachFaultOnItsOwnLine) {
  TempDir dir;
  Bytes shortSwf = vellorun::Fws(64, 9, 1);
  shortSwf[4] = 200;  // states 200 bytes, holds 64
  Bytes badSplash;
  Int(badSplash, 5), Int(badSplash, 100);
  for (unsigned char b : Scrambled({1, 2, 3, 4, 5}, 182)) badSplash.push_back(b);
  Bytes trailing = PackageWith(shortSwf, {}, badSplash);
  trailing.push_back(0);

  const std::pair<Bytes, std::vector<std::string>> cases[] = {
      {PackageWith(vellorun::Fws(64, 9, 1), {"../evil", "/abs", "./a", "a"}),
       {"file \"../evil\" cannot be extracted: the name climbs out of the folder through \"..\"",
        "file \"/abs\" cannot be extracted: the name is absolute", "files \"./a\" and \"a\" name the same file"}},
      {PackageWith(vellorun::Fws(64, 9, 1), {"twice", "twice"}),
       {"the file \"twice\" is stored more than once; only the later record is read"}},
      {PackageWith(vellorun::Fws(64, 9, 1), {}, {}, {}, NewKeyText(EVP_aes_128_cbc())),
       {"form 0 key text is encrypted; it cannot be used"}},
      {Bytes(trailing.begin(), trailing.begin() + 150),
       {"not a vello package (or a damaged one): at byte 150, form 0, number 10: cut short"}},
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
  const auto ok = Vello(dir, {"verify", sound});
  EXPECT_EQ(ok.exitCode, 0);
  EXPECT_EQ(ok.out, sound + ": ok\n");
}

// What vello refuses of its inputs and outputs: each case names the input
// and why, exits with its code, and leaves every file as it was and no
// output. Inputs are looked at before they are opened: a FIFO would
// block, and a device reads as empty or never ends; one beyond what a
// package item can hold is refused without reading it.
TEST(Refusals, InputsAndOutputsPackCannotStandBehind) {
  TempDir dir;
  const std::string main = dir.Write("main.swf", vellorun::Fws(64, 9, 1));
  const std::string package = dir.Write("p.dat", PackageWith(vellorun::Fws(64, 9, 2), {}));
  const Bytes jpegBytes = {0xFF, 0xD8, 0xFF, 0xE0, 'J', 'F', 'I', 'F', 0, 1, 2, 3, 4, 5, 6, 7};
  const std::string jpeg = dir.Write("photo.jpg", jpegBytes);
  const std::string empty = dir.Write("empty.swf", {});
  Bytes badCws = vellorun::Cws(vellorun::Fws(300, 9, 1));
  badCws[4] = 200, badCws[5] = 0;  // states 200 bytes, inflates to 300
  const std::string cws = dir.Write("bad.swf", badCws);
  const std::string existing = dir.Write("existing.dat", Text("mine"));
  const std::string manifest = dir.Write(
      "zero.json", Text(R"({"forms": [{"main": "main.swf"}], "files": {"a\u0000b": "main.swf", "a": "main.swf"}})"));
  const std::string cutManifest = dir.Write("cut.json", Text(R"({"forms": [{"main": "main.swf\u0000.jpg"}]})"));
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string huge = dir.Write("huge.bin", {}), nowhere = dir.File("nowhere");
  ASSERT_EQ(truncate(huge.c_str(), 0x80000000), 0);  // sparse: 2 GiB
  const std::string out = dir.File("out.dat");
  const auto pack = [&](std::vector<std::string> more) {
    std::vector<std::string> args = {"pack", "-o", out};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  const auto withFiles = [&](const std::vector<std::string>& names) {
    std::vector<std::string> args = pack({"--main", main});
    for (const std::string& name : names) args.insert(args.end(), {"--file", name + "=" + main});
    return args;
  };
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string why;
  } cases[] = {
      {pack({"--main", jpeg}), 1,
       "the main program " + jpeg + " is not an SWF program: it has no SWF signature (starts with FF D8 FF)"},
      {pack({"--main", empty}), 1, "it holds 0 bytes, shorter than an SWF header"},
      {pack({"--main", main, "--preview", jpeg}), 1, "the preview program " + jpeg + " is not an SWF program"},
      {pack({"--main", main, "--settings", cws}), 1, "states 200 bytes uncompressed but inflates to 300 bytes"},
      {{"pack", "-o", main, "--main", main, "--force"}, 1, main + ": is the main program " + main},
      {{"pack", "-o", existing, "--main", main}, 1, existing + ": exists (use --force to replace it)"},
      {{"extract", package, "-o", dir.path().string()}, 1, main + " exists (use --force to replace it)"},
      {{"pack", "-o", nowhere + "/x.dat", "--main", main}, 1, "the folder " + nowhere + " does not exist"},
      {pack({"--main", main, "--preview", dir.File("nope.swf")}), 3,
       "cannot read the preview program " + dir.File("nope.swf") + ": No such file or directory"},
      {pack({"--main", main, "--splash", main}), 1, "the splash " + main + ": cannot be packed"},
      {pack({"--manifest", fifo}), 3, fifo + ": it is a FIFO, not a regular file"},
      {pack({"--manifest", manifest}), 2, "the file name \"a\\x00b\" is refused: a zero character would end it"},
      {pack({"--manifest", cutManifest}), 3, "form 0: \"main\" must be a file path"},
      {withFiles({"../../evil"}), 2, "the file name \"../../evil\" is refused: the name climbs out of the folder"},
      {withFiles({"/etc/evil"}), 2, "the file name \"/etc/evil\" is refused: the name is absolute"},
      {withFiles({"a", "./a"}), 2, "the file names are refused: \"a\" and \"./a\" name the same file"},
      // Stored cut at the byte that is not UTF-8, these would be ".." and
      // one name for two files.
      {withFiles({"..\xFF"}), 2, "the file name \"..\\xFF\" is refused: it is not UTF-8 text"},
      {withFiles({"a\xFF", "a\xFE"}), 2, "is refused: it is not UTF-8 text"},
      {pack({"--main", main, "--secure-var", "k=1", "--secure-var", "k=2"}), 2,
       "the secure variable \"k\" is given more than once"},
      {{"info", fifo}, 3, fifo + ": it is a FIFO, not a regular file"},
      {{"verify", fifo}, 3, fifo + ": it is a FIFO, not a regular file"},
      {{"extract", fifo, "-o", dir.File("x")}, 3, fifo + ": it is a FIFO, not a regular file"},
      {{"info", "/dev/zero"}, 3, "/dev/zero: it is a character device, not a regular file"},
      {pack({"--main", fifo}), 3, "main program " + fifo + ": it is a FIFO, not a regular file"},
      {pack({"--main", "/dev/zero"}), 3, "/dev/zero: it is a character device, not a regular file"},
      {pack({"--main", main, "--dll", "/dev/zero"}), 3,
       "the DLL /dev/zero: it is a character device, not a regular file"},
      {pack({"--main", main, "--dll", huge}), 3,
       "it holds 2147483648 bytes, more than the 2 GiB a package item can hold"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_TRUE(Said(Vello(dir, c.args), c.exitCode, c.why));
  }
  EXPECT_EQ(TempDir::ReadAll(main), vellorun::Fws(64, 9, 1));
  EXPECT_EQ(TempDir::ReadAll(existing), Text("mine"));
  EXPECT_EQ(dir.EntryCount(), 12u) << "the inputs, the captured output and nothing else";

  EXPECT_TRUE(Said(Vello(dir, pack({"--main", jpeg, "--no-check"})), 0,
                   "packed all the same (--no-check): the main program " + jpeg));
  ASSERT_EQ(Vello(dir, {"extract", out, "-o", dir.File("x")}).exitCode, 0);
  EXPECT_EQ(TempDir::ReadAll(dir.File("x/main.swf")), jpegBytes);
}

// Everything extract writes goes first to a temporary file beside its
// place; a failure on the way (here a full disk) removes what the run
// wrote, new folders included, and keeps every old file.
TEST(Refusals, ExtractFailingHalfwayLeavesTheFolderAsItWas) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  TempDir dir;
  const std::string disk = dir.File("disk");
  std::filesystem::create_directory(disk);
  if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=128k") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{disk};
  const Bytes old = {'o', 'l', 'd'};
  const Bytes big = vellorun::Fws(300 * 1024, 9, 2);  // more than the disk holds
  const struct {
    const char* what;
    Bytes package;
    bool force;
  } cases[] = {
      {"a new main program too large", PackageWith(big, {"new/deep/file"}), true},
      {"the files written before the one that does not fit",
       PackageWith(vellorun::Fws(64, 9, 1), {"a/b/first", "zz"}, {}, Bytes(100 * 1024, 'f')), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string out = disk + "/out";
    std::filesystem::remove_all(out);
    std::filesystem::create_directory(out);
    if (c.force) dir.Write("disk/out/main.swf", old);
    const std::string package = dir.Write("p.dat", c.package);
    std::vector<std::string> args = {"extract", package, "-o", out};
    if (c.force) args.push_back("--force");
    EXPECT_TRUE(Said(Vello(dir, args), 1, "No space left on device"));
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(out))
      left.push_back(entry.path().lexically_relative(out).string());
    EXPECT_EQ(left, c.force ? std::vector<std::string>{"main.swf"} : std::vector<std::string>{});
    if (c.force) {
      EXPECT_EQ(TempDir::ReadAll(out + "/main.swf"), old);
    }
  }
}

// Names of the files map that lead out of the folder, land on one file
// or need a file as a folder: refused with why before anything is written.
TEST(Refusals, ExtractRefusesNamesThatLeaveTheFolderOrCollide) {
  TempDir dir;
  const std::string out = dir.File("out"), outside = dir.File("outside");
  std::filesystem::create_directories(outside);
  const struct {
    std::vector<std::string> names;
    std::string why;
    bool filesIsALink;  // files/ itself a link to outside
  } cases[] = {
      {{"fine", "a/../../escape"}, "climbs out", false},  // the other names are refused by the same check
      {{"fine", "x"}, "symbolic link", true},
      {{"./a", "a"}, "\"files/./a\" and \"files/a\" name the same file", false},
      {{"d//e", "d/e"}, "\"files/d//e\" and \"files/d/e\" name the same file", false},
      {{"x", "x/y"}, "\"files/x\" is a file, but \"files/x/y\" needs it to be a folder", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    std::filesystem::remove_all(out);
    if (c.filesIsALink) {
      std::filesystem::create_directories(out);
      std::filesystem::create_directory_symlink(outside, out + "/files");
    }
    const std::string package = dir.Write("p.dat", PackageWith(vellorun::Fws(64, 9, 1), c.names));
    EXPECT_TRUE(Said(Vello(dir, {"extract", package, "-o", out}), 1, c.why));
    EXPECT_EQ(std::filesystem::exists(out), c.filesIsALink) << "nothing written";
    EXPECT_FALSE(std::filesystem::exists(out + "/main.swf"));
    EXPECT_TRUE(std::filesystem::is_empty(outside));
  }
}

// A compressed item is inflated a piece at a time: one that truly inflates
// to more than the memory allowed is extracted and verified all the same.
TEST(Refusals, LargeCompressedItemsNeedLittleMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit";
#endif
  TempDir dir;
  const Bytes zeros(48 << 20, 0);
  const Bytes stream = recordbytes::Compressed(zeros, 1);
  Bytes splash;
  Int(splash, static_cast<int32_t>(stream.size())), Int(splash, static_cast<int32_t>(zeros.size()));
  Append(splash, Scrambled(stream, 182));
  const std::string package = dir.Write("p.dat", PackageWith(vellorun::Fws(64, 9, 1), {}, splash));
  constexpr long kLimit = 32 << 20;  // the program runs in less than 16 MiB
  const auto verify = Vello(dir, {"verify", package}, 0, kLimit);
  EXPECT_EQ(verify.exitCode, 0) << verify.out << verify.err;
  const auto extract = Vello(dir, {"extract", package, "-o", dir.File("out")}, 0, kLimit);
  EXPECT_EQ(extract.exitCode, 0) << extract.err;
  EXPECT_EQ(std::filesystem::file_size(dir.File("out/splash.bin")), zeros.size());
}

// Names from a package reach the terminal with their control characters
// escaped: an ESC sequence, an OSC title, a C1 CSI.
TEST(Refusals, ControlCharactersInNamesAreEscaped) {
  TempDir dir;
  const std::vector<std::string> names = {"\x1b[31mred", "\x1b]0;title\x07", "c1\u009b2J"};
  const std::string package = dir.Write("p.dat", PackageWith(vellorun::Fws(64, 9, 1), names));
  const auto info = Vello(dir, {"info", package});
  EXPECT_EQ(info.exitCode, 0);
  EXPECT_NE(info.out.find("file \\x1B[31mred: 7 bytes"), std::string::npos) << info.out;
  const std::string refused = dir.Write("r.dat", PackageWith(vellorun::Fws(64, 9, 1), {"../\x1b[2J"}));
  const auto extract = Vello(dir, {"extract", refused, "-o", dir.File("out")});
  EXPECT_TRUE(Said(extract, 1, "the file \"../\\x1B[2J\""));
  // Paths too, in every line that names one.
  Bytes trailing = PackageWith(vellorun::Fws(64, 9, 1), {});
  trailing.push_back(0);
  const std::string title = dir.Write("\x1b]0;t\x07.dat", trailing), other = dir.File("\x1b[2Jo.dat");
  const std::string cut = dir.Write("\x1b[2Jcut.dat", Bytes(trailing.begin(), trailing.begin() + 20));
  std::vector<std::string> said = {info.out, extract.err};
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"verify", cut},
                                             {"upgrade", title, "-o", other, "--drop-trailing"},
                                             {"set-swf-version", title, "--form", "0", "8", "--drop-trailing"},
                                             {"verify", other},
                                             {"extract", other, "-o", dir.File("\x1b[2Jx")}}) {
    const auto r = Vello(dir, args);
    EXPECT_NE(r.out.find("\\x1B"), std::string::npos) << testing::PrintToString(args) << r.out;
    said.push_back(r.out + r.err);
  }
  for (const std::string& text : said) {
    EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
    EXPECT_EQ(text.find('\x07'), std::string::npos) << text;
    EXPECT_EQ(text.find("\xc2\x9b"), std::string::npos) << text;
  }
}

// Wrong use exits with 2, the first line said naming what is wrong:
// CLI11's own errors said as vello's others, with the nearest word.
TEST(Refusals, UsageErrorsExitWithTwo) {
  TempDir dir;
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "vello: A subcommand is required"},
      {{"info"}, "vello info: PKG is required"},
      {{"pack", "-o", "x.dat"}, "vello pack: --main (or --manifest) is required"},
      {{"pack", "-o", "x.dat", "--manifest", "m.json", "--main", "a.swf"},
       "vello pack: --main cannot be combined with --manifest"},
      {{"pack", "-o", "x.dat", "--main", "a.swf", "--file", "no-equals"},
       "vello pack: --file no-equals: expected NAME=VALUE"},
      {{"set-swf-version", "p.dat", "--form", "0", "300"},
       "vello set-swf-version: VERSION: Value 300 not in range 0 to 255"},
      {{"frobnicate"}, "vello: \"frobnicate\" is not a command"},
      {{"extract", "p.dat", "--form", "-1"}, "vello extract: --form: Value -1 not in range 0 to 2147483647"},
      {{"set-swf-version", "p.dat", "--form", "-1", "9"},
       "vello set-swf-version: --form: Value -1 not in range 0 to 2147483647"},
      {{"pack", "-o", "x.dat", "--mian", "a.swf"},
       "vello pack: The following arguments were not expected: a.swf --mian (did you mean --main?)"},
      {{"verfiy", "p.dat"}, "vello: \"verfiy\" is not a command (did you mean verify?)"}};
  for (const auto& [args, first] : cases) {
    const auto r = Vello(dir, args);
    EXPECT_EQ(r.exitCode, 2) << testing::PrintToString(args);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), first);
  }
  const auto help = Vello(dir, {"extract", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Example:"), std::string::npos);
  EXPECT_NE(help.out.find("3 unreadable input"), std::string::npos);
}

}  // namespace
