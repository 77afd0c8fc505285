#include "builder_package/Package.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder_package/PackageBinary.h"
#include "builder_package/PackageForm.h"
#include "builder_package/RecordBytes_test.h"
#include "encryption/EncryptedString.h"
#include "system/MemoryFile_test.h"
#include "system/RandomBytes_test.h"
#include "system/SysFile.h"
#include "system/TempDir_test.h"

namespace {

using namespace recordbytes;

// What saving the package read from StoredFile(v) must write: version 14,
// maps in key order with the later "alpha", binaries as version 1, and
// the sections that v lacks at their defaults.
Bytes SavedFile(int v) {
  Composer c;
  c.Append(PackageHeader(14, 2));
  c.Append(FormRecord(14, OneForm()));
  c.Append(FormRecord(14, OneForm()));
  c.Count(v >= 2 ? 2 : 0);
  if (v >= 2) c.Binary("dll one"), c.Binary("");
  c.Count(v >= 3 ? 2 : 0);
  if (v >= 3) c.Key("alpha"), c.Encrypted("second"), c.Key("zeta"), c.Encrypted("z value");
  c.Count(v >= 4 ? 2 : 0);
  if (v >= 4)
    c.Key("\xEF\xBF\xBD"), c.Binary("replacement"), c.Key("\xF0\x90\x80\x80"), c.Binary("astral");
  c.Count(v >= 5 ? 2 : 0);
  if (v >= 5) c.Encrypted("list one"), c.Encrypted("");
  c.Options(v >= 5);
  c.Compressed("Splash", v >= 6 ? &kSplash : nullptr, 9, 182);
  String(c.out, v >= 7 ? "option two" : "");
  c.Compressed("TrayIcon", v >= 8 ? &kTray : nullptr, 9, 184);
  c.Count(v >= 9 ? 2 : 0);
  if (v >= 9) c.Key("a"), c.Encrypted("ay"), c.Key("b"), c.Encrypted("bee");
  for (int n = 3; n <= 9; ++n) String(c.out, v >= 10 ? "option " + std::to_string(n) : "");
  Bool(c.out, v >= 11);
  c.Compressed("Flash", v >= 12 ? &kFlash : nullptr, 1, 84);
  c.Compressed("Xul", v >= 14 ? &kXul : nullptr, 1, 76);
  return c.out;
}

// Read and Write on streams in memory, for the tests that load many
// damaged files (a real file per case makes them wait on the disk).
bool ReadBytes(CPackage& package, const Bytes& bytes, bool pipe = false) {
  return ReadFromMemory(bytes, [&](CSysFile& file) { return package.Read(0, file); }, pipe);
}

bool Writes(CPackage& package) {
  bool ok = false;
  WrittenToMemory([&](CSysFile& file) { return package.Write(0, file); }, &ok);
  return ok;
}

// Packages of each version are read whole, header, forms and sections, and
// saved as version 14: the saved bytes, composed independently, prove
// every field was read from its place and the sections a version lacks
// were left at their defaults. The reads that decode (a form's program,
// the later of two records, a resource) are checked on their own.
class SectionVersionTest : public ::testing::TestWithParam<int> {};

TEST_P(SectionVersionTest, ReadsEverySectionItsVersionHasAndSavesAllAsVersion14) {
  const int v = GetParam();
  TempDir dir;
  CPackage p;
  ASSERT_TRUE(p.Load(0, dir.Put("in.dat", StoredFile(v).out))) << p.GetReadFailure().ToString();
  EXPECT_FALSE(p.GetReadFailure().failed());
  EXPECT_EQ(p.GetStoredVersion(), v);
  ASSERT_EQ(p.GetFormCount(), 2);
  EXPECT_EQ(Unpacked(*p.GetForm(1), &CPackageForm::UnpackSWFToRam), Program("program"));
  EXPECT_EQ(p.GetForm(2), nullptr);
  if (v >= 3) {
    EXPECT_EQ(p.FindSecureVar(L"alpha")->GetString(), L"second");
  }
  if (v >= 4) {
    EXPECT_EQ(Unpacked(*p.FindFile(L"\U00010000"), &CPackageBinary::UnPackDataAndDecrypt),
              Text("astral"));
  }
  EXPECT_EQ(Unpacked(p, &CPackage::UnpackXul, v >= 14), v >= 14 ? kXul : Bytes{});

  ASSERT_TRUE(p.Save(0, dir.WideFile("out.dat")));
  EXPECT_EQ(TempDir::ReadAll(dir.File("out.dat")), SavedFile(v));
}

// Versions outside 1..14 are read by the nearest gate.
INSTANTIATE_TEST_SUITE_P(Versions, SectionVersionTest, ::testing::Range(0, 16));

// A pipe cannot tell how many bytes are left: runs are read in pieces, and
// one longer than what arrives fails as cut short.
TEST(SectionStreamTest, ReadsFromAStreamThatCannotSeek) {
  Bytes file = StoredFile(14).out;
  CPackage whole;
  ASSERT_TRUE(ReadBytes(whole, file, true)) << whole.GetReadFailure().ToString();
  TempDir dir;
  ASSERT_TRUE(whole.Save(0, dir.WideFile("out.dat")));
  EXPECT_EQ(TempDir::ReadAll(dir.File("out.dat")), SavedFile(14));

  file[file.size() - Compressed(kXul, 1).size() - 6] = 0x10;  // xul's packed size, 1 MiB more
  CPackage damaged;
  EXPECT_FALSE(ReadBytes(damaged, file, true));
  EXPECT_EQ(damaged.GetReadFailure().field, "m_packedXulSize");
  EXPECT_EQ(damaged.GetReadFailure().problem, "cut short");
  EXPECT_EQ(damaged.GetReadFailure().offset, -1);
}

// Forms read before the end stay in the package.
TEST(SectionDamageTest, EveryPrefixFailsWithAReason) {
  const Bytes file = StoredFile(14).out;
  const size_t header = PackageHeader(14, 2).size();
  const size_t form = FormRecord(14, OneForm()).size();
  for (size_t cut = 0; cut < file.size(); ++cut) {
    CPackage p;
    ASSERT_FALSE(ReadBytes(p, Bytes(file.begin(), file.begin() + long(cut)))) << cut;
    EXPECT_EQ(p.GetFormCount(), cut < header + form ? 0 : cut < header + 2 * form ? 1 : 2) << cut;
    const ReadFailure& why = p.GetReadFailure();
    ASSERT_TRUE(why.failed()) << cut;
    EXPECT_LE(why.offset, static_cast<long long>(cut));
    EXPECT_GE(why.offset, 0);
  }
}

// A count or size pushed past the end of the file is refused, and named,
// before anything is read for it; a negative size is refused; any other
// change of one of their bytes fails with a reason or reads a package that
// writes.
TEST(SectionDamageTest, CountsAndSizesBeyondTheFileOrNegativeAreRefused) {
  const Composer stored = StoredFile(14);
  for (const Mark& mark : stored.marks) {
    for (size_t byte = 0; byte < 4; ++byte) {
      for (uint8_t value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
        Bytes patched = stored.out;
        patched[mark.at + byte] = value;
        CPackage p;
        const bool ok = ReadBytes(p, patched);
        const ReadFailure& why = p.GetReadFailure();
        const std::string where = mark.field + " at " + std::to_string(mark.at) + " byte " +
                                  std::to_string(byte) + " = " + std::to_string(value) + ": " +
                                  why.ToString();
        EXPECT_TRUE(ok ? Writes(p) : why.failed()) << where;

        const bool beyond = byte == 2 && value == 0x7F;  // 8 MiB or more
        const bool negative = byte == 3 && value >= 0x80;
        if (mark.kind == Kind::kUnpacked) {
          EXPECT_EQ(!ok, negative) << where;
          continue;
        }
        if (beyond) {
          EXPECT_FALSE(ok) << where;
          EXPECT_EQ(why.field, mark.field) << where;
          const std::string expected = mark.kind == Kind::kCipherText ? "record failed"
                                       : mark.kind == Kind::kCount    ? "count "
                                                                      : "length ";
          EXPECT_EQ(why.problem.rfind(expected, 0), 0u) << where;
          if (mark.kind != Kind::kCipherText) {
            EXPECT_NE(why.problem.find(" exceeds the "), std::string::npos) << where;
          }
        }
        if (negative && mark.kind == Kind::kSize) {
          EXPECT_FALSE(ok) << where;
          EXPECT_EQ(why.field, mark.field) << where;
          EXPECT_NE(why.problem.find(" is negative"), std::string::npos) << where;
        }
      }
    }
  }
}

TEST(SectionDamageTest, ReasonNamesTheFormTheFieldAndTheBytesLeft) {
  Form form = OneForm();
  form.name = "NAME";
  const Bytes record = FormRecord(6, form);
  Bytes file = PackageFile(1, {record, record}, {});
  // The name is the last field of a version-6 record: its length and 4 bytes.
  const size_t lengthAt = file.size() - 8;
  ASSERT_EQ(file[lengthAt], 4u);
  file[lengthAt] = 0x9F, file[lengthAt + 1] = 0x86, file[lengthAt + 2] = 0x01;  // 99999
  TempDir dir;
  CPackage p;
  ASSERT_FALSE(p.Load(0, dir.Put("p.dat", file)));
  EXPECT_EQ(p.GetFormCount(), 1);
  EXPECT_EQ(p.GetReadFailure().ToString(), "at byte " + std::to_string(lengthAt + 4) +
                                               ", form 2, m_formName: length 99999 exceeds "
                                               "the 4 bytes left");
  EXPECT_FALSE(p.Load(0, dir.WideFile("absent.dat")));
  EXPECT_EQ(p.GetReadFailure().ToString(), "the file does not open");
}

// The mask of a form and every resource unpack through one routine.
TEST(SectionDamageTest, ResourcesThatCannotInflateToTheirSizeAreRefused) {
  const Bytes stored = Scrambled(Compressed(kXul, 1), 76);
  const int32_t packed = static_cast<int32_t>(stored.size());
  const int32_t real = static_cast<int32_t>(kXul.size());
  const std::pair<Bytes, int32_t> cases[] = {
      {stored, real + 1}, {stored, real - 1}, {stored, packed * 1100}, {stored, INT32_MAX}, {stored, 0},
      {{1, 2, 3, 4, 5, 6, 7, 8}, 100}};  // the last no zlib stream
  TempDir dir;
  for (const auto& [bytes, unpacked] : cases) {
    Bytes file = PackageFile(14, {}, Bytes(28 * 4, 0));  // sections up to the xul
    Int(file, static_cast<int32_t>(bytes.size()));
    Int(file, unpacked);
    Append(file, bytes);
    CPackage p;
    ASSERT_TRUE(p.Load(0, dir.Put("p.dat", file))) << p.GetReadFailure().ToString();
    unsigned char* out = nullptr;
    int size = -7;
    EXPECT_FALSE(p.UnpackXul(&out, size)) << unpacked;
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(size, -7);
  }
}

// Each resource is its file compressed at its level and scrambled with its
// constant, composed here with zlib and the formula.
struct ResourceCase {
  const char* name;
  bool (CPackage::*pack)(const std::wstring&);
  bool (CPackage::*unpack)(unsigned char**, int&);
  const unsigned char* (CPackage::*stored)() const;
  int (CPackage::*packedSize)() const;
  int (CPackage::*unpackedSize)() const;
  void (CPackage::*release)();
  int level, k;
};

const ResourceCase kResources[] = {
    {"splash", &CPackage::PackSplash, &CPackage::UnpackSplashToRam, &CPackage::GetPackedSplash,
     &CPackage::GetPackedSplashSize, &CPackage::GetUnpackedSplashSize, &CPackage::ReleaseSplash, 9, 182},
    {"tray icon", &CPackage::PackTrayIcon, &CPackage::UnpackTrayIconToRam,
     &CPackage::GetPackedTrayIcon, &CPackage::GetPackedTrayIconSize,
     &CPackage::GetUnpackedTrayIconSize, &CPackage::ReleaseTrayIcon, 9, 184},
    {"flash", &CPackage::PackFlash, &CPackage::UnpackFlash, &CPackage::GetPackedFlash,
     &CPackage::GetPackedFlashSize, &CPackage::GetUnpackedFlashSize, &CPackage::ReleaseFlash, 1, 84},
    {"xul", &CPackage::PackXul, &CPackage::UnpackXul, &CPackage::GetPackedXul,
     &CPackage::GetPackedXulSize, &CPackage::GetUnpackedXulSize, &CPackage::ReleaseXul, 1, 76},
};

TEST(ResourceTest, PackedBytesAreTheZlibStreamAtTheLevelScrambledWithTheConstant) {
  TempDir dir;
  const Bytes content = Words(5, 20000);
  const std::wstring path = dir.Put("r.bin", content);
  ASSERT_NE(Compressed(content, 1), Compressed(content, 9));
  for (const ResourceCase& r : kResources) {
    CPackage p;
    ASSERT_TRUE((p.*r.pack)(path)) << r.name;
    const Bytes expected = Scrambled(Compressed(content, r.level), r.k);
    ASSERT_EQ((p.*r.packedSize)(), static_cast<int>(expected.size())) << r.name;
    EXPECT_EQ((p.*r.unpackedSize)(), static_cast<int>(content.size())) << r.name;
    const unsigned char* stored = (p.*r.stored)();
    EXPECT_EQ(Bytes(stored, stored + expected.size()), expected) << r.name;
    EXPECT_EQ(Unpacked(p, r.unpack), content) << r.name;
  }
}

// A failed pack or a release of the splash or tray icon leaves sizes
// without bytes: Save then fails and keeps the old file. Flash and xul
// clear their sizes and save.
TEST(ResourceTest, SizesWithoutBytesAreNeverWritten) {
  TempDir dir;
  const std::wstring good = dir.Put("good.bin", kSplash);
  const std::wstring bad = dir.Put("noise.bin", RandomBytes(2000, 5));
  const std::string target = dir.Write("vello.dat", {1, 2, 3});

  for (const ResourceCase& r : kResources) {
    const bool keepsSizes = r.level == 9;  // splash and tray icon
    for (bool release : {false, true}) {
      CPackage p;
      ASSERT_TRUE((p.*r.pack)(good));
      const int packed = (p.*r.packedSize)();
      if (release) {
        (p.*r.release)();
        EXPECT_EQ((p.*r.unpackedSize)(), keepsSizes ? 300 : 0) << r.name;
      } else {
        EXPECT_FALSE((p.*r.pack)(bad)) << r.name;
        EXPECT_EQ((p.*r.unpackedSize)(), 2000) << r.name;  // the file was read
      }
      EXPECT_EQ((p.*r.stored)(), nullptr);
      EXPECT_EQ((p.*r.packedSize)(), keepsSizes ? packed : 0) << r.name;
      EXPECT_EQ(p.Save(0, dir.WideFile("vello.dat")), !keepsSizes) << r.name << release;
      if (keepsSizes) {
        EXPECT_EQ(TempDir::ReadAll(target), (Bytes{1, 2, 3})) << r.name;
      }
    }
  }
}

// The sections of a new package filled through its operations, in the
// order the layout gives, maps in key order whatever order they came in.
TEST(SectionOperationsTest, AddedEntriesAreStoredAndWrittenInKeyOrder) {
  TempDir dir;
  CPackage p;
  const unsigned char dll[] = {'d', 'l', 'l'};
  ASSERT_TRUE(p.PackWin32Dll(dll, 3));
  p.AddSecureVar(L"b", L"first");
  p.AddSecureVar(L"a", L"ay");
  p.AddSecureVar(L"b", L"bee");
  EXPECT_EQ(p.FindSecureVar(L"c"), nullptr);
  ASSERT_TRUE(p.PackFile(L"z", dir.Put("z.bin", Text("zed"))));
  ASSERT_TRUE(p.PackFile(L"empty", dir.Put("e.bin", {})));
  EXPECT_FALSE(p.PackFile(L"missing", dir.WideFile("missing.bin")));
  p.AddGlobalVar(L"g", L"global");

  Composer c;
  Int(c.out, 14);
  c.Append(Bytes(11 * 4, 0));  // ten empty header fields, no form
  c.Count(1), c.Binary("dll");
  c.Count(2), c.Key("a"), c.Encrypted("ay"), c.Key("b"), c.Encrypted("bee");
  c.Count(2), c.Key("empty"), c.Binary(""), c.Key("z"), c.Binary("zed");
  c.Count(0), c.Options(false);
  c.Compressed("Splash", nullptr, 0, 0);
  String(c.out, "");
  c.Compressed("TrayIcon", nullptr, 0, 0);
  c.Count(1), c.Key("g"), c.Encrypted("global");
  c.Append(Bytes(8 * 4 + 2 * 8, 0));  // seven strings, a flag, flash, xul
  ASSERT_TRUE(p.Save(0, dir.WideFile("p.dat")));
  EXPECT_EQ(TempDir::ReadAll(dir.File("p.dat")), c.out);

  p.Close();
  EXPECT_TRUE(p.GetDllBinaries().empty());
  EXPECT_TRUE(p.GetSecureVars().empty());
  EXPECT_TRUE(p.GetFiles().empty());
  EXPECT_TRUE(p.GetGlobalVars().empty());
}

TEST(PackageSaveTest, PathsThatDoNotConvertWholeAreRefusedAndTouchNothing) {
  TempDir dir;
  const std::string victim = dir.Write("victim", {7, 7});
  const std::wstring base = dir.WideFile("victim");
  CPackage p;
  for (const std::wstring& path : {base + L"\xD800.dat", base + std::wstring(1, L'\0') + L".dat",
                                   base + static_cast<wchar_t>(0x110000)}) {
    EXPECT_FALSE(p.Save(0, path));
    EXPECT_EQ(p.GetSaveFailure().problem,
              "is no file name: it holds U+0000 or a character UTF-8 cannot hold");
    EXPECT_EQ(TempDir::ReadAll(victim), (Bytes{7, 7}));
    EXPECT_EQ(dir.EntryCount(), 1u);
  }
}

}  // namespace
