#include "builder_package/Package.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "builder_package/PackageForm.h"
#include "builder_package/RecordBytes_test.h"
#include "system/TempDir_test.h"

namespace {

using recordbytes::Bytes;
namespace fs = std::filesystem;

recordbytes::Form NamedForm(const std::string& name, const Bytes& program) {
  recordbytes::Form form;
  form.name = name;
  form.swf = recordbytes::Scrambled(program, 122);
  return form;
}

// A version-14 package as the library writes it: header, forms, and every
// section empty.
Bytes Version14Package(const std::vector<recordbytes::Form>& forms) {
  Bytes file = recordbytes::PackageHeader(14, static_cast<int>(forms.size()));
  for (const auto& form : forms) recordbytes::Raw(file, recordbytes::FormRecord(14, form));
  recordbytes::Raw(file, recordbytes::EmptySections());
  return file;
}

void ExpectHeaderOfTestFiles(const CPackage& package) {
  EXPECT_EQ(package.GetHeaderInt1(), -1);
  EXPECT_EQ(package.GetHeaderString1(), L"header one");
  EXPECT_EQ(package.GetHeaderString2(), L"");
  EXPECT_TRUE(package.GetHeaderFlag1());
  EXPECT_FALSE(package.GetHeaderFlag2());
  EXPECT_TRUE(package.GetHeaderFlag3());
  EXPECT_EQ(package.GetHeaderString3(), L"header three");
  EXPECT_EQ(package.GetHeaderInt2(), 2);
  EXPECT_EQ(package.GetHeaderInt3(), 3);
  EXPECT_EQ(package.GetHeaderInt4(), 4);
}

Bytes ProgramOf(CPackageForm& form) {
  unsigned char* out = nullptr;
  int size = 0;
  EXPECT_TRUE(form.UnpackSWFToRam(&out, size));
  Bytes program(out, out + size);
  delete[] out;
  return program;
}

TEST(PackageTest, NewPackageHasNoFormsAndDefaultHeader) {
  CPackage package;
  EXPECT_EQ(package.GetFormCount(), 0);
  EXPECT_EQ(package.GetForm(0), nullptr);
  EXPECT_EQ(package.GetHeaderInt1(), 0);
  EXPECT_EQ(package.GetHeaderString1(), L"");
  EXPECT_FALSE(package.GetHeaderFlag3());
}

// Packages of each version, with forms of mixed versions, read back.
class PackageVersionTest : public ::testing::TestWithParam<int> {};

TEST_P(PackageVersionTest, ReadsHeaderAndForms) {
  const int version = GetParam();
  Bytes file = recordbytes::PackageHeader(version, 2);
  recordbytes::Raw(file, recordbytes::FormRecord(7, NamedForm("first", recordbytes::Text("FWS\x09one"))));
  recordbytes::Raw(file, recordbytes::FormRecord(11, NamedForm("second", recordbytes::Text("FWS\x0atwo"))));
  if (version >= 2) recordbytes::Raw(file, recordbytes::EmptySections());

  TempDir dir;
  CPackage package;
  ASSERT_TRUE(package.Load(0, dir.Put("vello.dat", file)));
  EXPECT_EQ(package.GetStoredVersion(), version);
  ExpectHeaderOfTestFiles(package);
  ASSERT_EQ(package.GetFormCount(), 2);
  EXPECT_EQ(package.GetForm(0)->GetFormName(), L"first");
  EXPECT_EQ(package.GetForm(1)->GetFormName(), L"second");
  EXPECT_EQ(package.GetForm(1)->GetStoredVersion(), 11);
  EXPECT_EQ(ProgramOf(*package.GetForm(0)), recordbytes::Text("FWS\x09one"));
  EXPECT_EQ(package.GetForm(2), nullptr);
  EXPECT_EQ(package.GetForm(-1), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Versions, PackageVersionTest, ::testing::Values(1, 5, 13, 14));

TEST(PackageTest, CountOfZeroOrLessReadsNoForm) {
  TempDir dir;
  for (int count : {0, -1, INT32_MIN}) {
    CPackage package;
    ASSERT_TRUE(package.Load(0, dir.Put("p.dat", recordbytes::PackageHeader(1, count))));
    EXPECT_EQ(package.GetFormCount(), 0);
  }
}

TEST(PackageTest, SaveWritesVersion14ByteForByteAndLoadSaveReproducesIt) {
  TempDir dir;
  const Bytes file = Version14Package({NamedForm("", recordbytes::Text("FWS\x0a")),
                                       NamedForm("second", recordbytes::Text("FWS\x08!"))});
  CPackage package;
  ASSERT_TRUE(package.Load(0, dir.Put("in.dat", file)));
  ASSERT_EQ(package.GetFormCount(), 2);
  EXPECT_EQ(package.GetForm(0)->GetFormName(), L"");
  ASSERT_TRUE(package.Save(0, dir.WideFile("out.dat")));
  EXPECT_EQ(TempDir::ReadAll(dir.File("out.dat")), file);
}

TEST(PackageTest, OlderPackageIsSavedAsVersion14) {
  TempDir dir;
  Bytes old = recordbytes::PackageHeader(1, 1);
  recordbytes::Raw(old, recordbytes::FormRecord(14, NamedForm("f", recordbytes::Text("FWS\x07"))));
  CPackage package;
  ASSERT_TRUE(package.Load(0, dir.Put("old.dat", old)));
  ASSERT_TRUE(package.Save(0, dir.WideFile("new.dat")));
  EXPECT_EQ(TempDir::ReadAll(dir.File("new.dat")),
            Version14Package({NamedForm("f", recordbytes::Text("FWS\x07"))}));
}

TEST(PackageTest, BuiltPackageRoundTrips) {
  TempDir dir;
  const Bytes swf = recordbytes::Text("FWS\x0a a main program");
  auto* form = new CPackageForm;
  ASSERT_TRUE(form->PackSWF(dir.Put("m.swf", swf), false, ""));
  ASSERT_TRUE(form->PackSaverPreview(dir.Put("p.swf", recordbytes::Text("preview"))));
  form->SetFormName(L"demo \u00e9\U0001F600");
  CPackage package;
  package.AddForm(form);
  ASSERT_TRUE(package.Save(0, dir.WideFile("built.dat")));

  CPackage loaded;
  ASSERT_TRUE(loaded.Load(0, dir.WideFile("built.dat")));
  ASSERT_EQ(loaded.GetFormCount(), 1);
  EXPECT_EQ(loaded.GetForm(0)->GetFormName(), L"demo \u00e9\U0001F600");
  EXPECT_EQ(ProgramOf(*loaded.GetForm(0)), swf);
  EXPECT_EQ(loaded.GetForm(0)->GetSaverPreviewSize(), 7);
}

TEST(PackageTest, LoadAddsToWhatThePackageHolds) {
  TempDir dir;
  const std::wstring path = dir.Put("p.dat", Version14Package({NamedForm("a", {})}));
  CPackage package;
  ASSERT_TRUE(package.Load(0, path));
  ASSERT_TRUE(package.Load(0, path));
  EXPECT_EQ(package.GetFormCount(), 2);
  package.Close();
  EXPECT_EQ(package.GetFormCount(), 0);
  EXPECT_EQ(package.GetHeaderString1(), L"header one");  // the header stays
}

TEST(PackageTest, EveryPrefixOfAValidPackageFailsToLoad) {
  recordbytes::Form full = NamedForm("form", recordbytes::Text("FWS\x0a program"));
  full.mask = {1, 2, 3};
  full.unpackedMask = 10;
  full.preview = {4, 5};
  full.settings = {6};
  Bytes file = recordbytes::PackageHeader(14, 2);
  recordbytes::Raw(file, recordbytes::FormRecord(14, full));
  const size_t firstFormEnd = file.size();
  recordbytes::Raw(file, recordbytes::FormRecord(14, full));

  TempDir dir;
  for (size_t cut = 0; cut < file.size(); ++cut) {
    CPackage package;
    const Bytes prefix(file.begin(), file.begin() + static_cast<long>(cut));
    EXPECT_FALSE(package.Load(0, dir.Put("cut.dat", prefix))) << cut;
    // Forms read before the end stay in the package.
    EXPECT_EQ(package.GetFormCount(), cut >= firstFormEnd ? 1 : 0) << cut;
  }
}

TEST(PackageTest, MissingFileDoesNotLoad) {
  TempDir dir;
  CPackage package;
  EXPECT_FALSE(package.Load(0, dir.WideFile("absent.dat")));
  EXPECT_FALSE(package.Save(0, dir.WideFile("no/such/folder/p.dat")));
}

TEST(PackageSaveTest, KeepsPermissionBitsAndWritesThroughSymbolicLinks) {
  TempDir dir;
  const std::string real = dir.Write("real.dat", {1, 2, 3});
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  fs::create_symlink("real.dat", dir.path() / "link.dat");

  CPackage package;
  package.AddForm(new CPackageForm);
  ASSERT_TRUE(package.Save(0, dir.WideFile("link.dat")));

  EXPECT_TRUE(fs::is_symlink(dir.path() / "link.dat"));
  struct stat info;
  ASSERT_EQ(stat(real.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  CPackage loaded;
  ASSERT_TRUE(loaded.Load(0, dir.WideFile("real.dat")));
  EXPECT_EQ(loaded.GetFormCount(), 1);
  // No temporary file is left beside the target.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

TEST(PackageSaveTest, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
  TempDir dir;
  const Bytes original(100, 0xAB);
  const std::string target = dir.Write("vello.dat", original);

  // A file-size limit makes the write fail part-way in a child process.
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    const std::string big(20000, 'x');
    auto* form = new CPackageForm;
    form->SetFormName(std::wstring(big.begin(), big.end()));
    CPackage package;
    package.AddForm(form);
    _exit(package.Save(0, dir.WideFile("vello.dat")) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "Save reported success despite the size limit";
  EXPECT_EQ(TempDir::ReadAll(target), original);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(PackageDeathTest, AddingANullFormIsFatal) {
  CPackage package;
  EXPECT_DEATH(package.AddForm(nullptr),
               "pForm != __null\\), function AddForm, file builder_package/Package, line");
}

}  // namespace
