#include "saver/SwfFiles.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>
#include <utility>

#include "saver/SaverGlobals.h"
#include "saver/SaverTestSupport_test.h"

namespace {

const Bytes kMain = BytesOf("FWS\x0a main program bytes \x01\x02\x03");
const Bytes kPreview = BytesOf("FWS\x0a the preview");
const Bytes kSettings = BytesOf("FWS\x0a settings, a little longer than the preview");

using SwfFilesTest = SaverTest;

TEST(SwfFileNames, PackagePathAndTemplates) {
  EXPECT_EQ(PackagePath("/Library/Screen Savers/lumetta.saver/Contents/Resources"),
            "/Library/Screen Savers/lumetta.saver/Contents/Resources/vello.dat");
  EXPECT_EQ(PackagePath("/res//"), "/res/vello.dat");
  EXPECT_EQ(PackagePath("/"), "/vello.dat");
  // The temporary folder goes in as given, and is not scanned for "%@".
  EXPECT_EQ(FormatTemplate(kPreviewTemplate, "/var/T/"), "/var/T//ssptemp.XXXXXX");
  EXPECT_EQ(FormatTemplate(kSettingsTemplate, "/a%@b"), "/a%@b/ssstemp.XXXXXX");
}

TEST_F(SwfFilesTest, WritesTheFirstFormsThreeProgramsToPrivateFiles) {
  ASSERT_TRUE(SavePackage(resources, {{kMain, kPreview, kSettings}, {kPreview, kMain, kMain}}));
  // A long folder: the file names are built in a buffer that must fit it.
  std::string dir = temp;
  for (char c : std::string("abcdef")) dir += "/" + std::string(200, c);
  std::filesystem::create_directories(dir);
  SwfExtractionReport report;
  ASSERT_TRUE(UnpackSwfs(resources, dir, &report));
  EXPECT_TRUE(report.loaded);
  EXPECT_TRUE(report.full.written && report.preview.written && report.settings.written);

  const std::tuple<const std::string&, const char*, const Bytes&, const SwfFileReport&> programs[] = {
      {g_full, "/ssftemp.", kMain, report.full},
      {g_preview, "/ssptemp.", kPreview, report.preview},
      {g_settings, "/ssstemp.", kSettings, report.settings},
  };
  for (const auto& [path, prefix, content, said] : programs) {
    EXPECT_EQ(said.path, path);
    EXPECT_EQ(said.size, static_cast<int>(content.size())) << path;
    EXPECT_EQ(path.rfind(dir + prefix, 0), 0u) << path;
    EXPECT_EQ(path.size(), dir.size() + 15);
    EXPECT_EQ(path.find("XXXXXX"), std::string::npos) << path;
    EXPECT_EQ(ReadBytes(path), content) << path;
    struct stat st = {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << path;
  }
  EXPECT_EQ(FileCount(dir), 3u);
}

// Once their names are removed the programs still read through their
// descriptors: a file someone puts under such a name is never what is
// read, and a path that names no file of ours reads as nothing. The
// deletions later leave that file alone.
TEST_F(SwfFilesTest, ProgramsWithoutNamesStillReadAndTheirOldNamesAreNotOurs) {
  ASSERT_TRUE(SavePackage(resources, {{kMain, {}, kSettings}}));
  ASSERT_TRUE(UnpackSwfs(resources, temp));
  RemoveMadeSwfFileNames();
  EXPECT_EQ(FileCount(temp), 0u);
  std::ofstream(g_full) << "someone else's";
  std::ofstream(scratch + "/other") << "FWS not ours";
  ASSERT_NE(ReadMadeSwfFile(g_full), nullptr);
  EXPECT_EQ(*ReadMadeSwfFile(g_full), kMain);
  EXPECT_EQ(*ReadMadeSwfFile(g_settings), kSettings);
  EXPECT_EQ(ReadMadeSwfFile(scratch + "/other"), nullptr);
  DeleteSwfFiles();
  EXPECT_EQ(ReadMadeSwfFile(g_full), nullptr);
  EXPECT_EQ(ReadBytes(g_full), BytesOf("someone else's"));
  DeleteMadeSwfFiles();
  EXPECT_EQ(FileCount(temp), 1u);
}

// The file system takes names as bytes: a folder whose name is not UTF-8
// is read as it is, never as the name cut at its first bad byte.
TEST_F(SwfFilesTest, PackageInAFolderWhoseNameIsNotUTF8IsReadByItsBytes) {
  const std::string folder = Make("R\xFF");
  ASSERT_TRUE(SavePackage(resources, {{kMain, std::nullopt, std::nullopt}}));
  std::filesystem::rename(resources + "/vello.dat", folder + "/vello.dat");
  // Where the name cut at the bad byte leads: another package.
  ASSERT_TRUE(SavePackage(resources, {{kSettings, std::nullopt, std::nullopt}}));
  std::filesystem::rename(resources + "/vello.dat", scratch + "/R");
  SwfExtractionReport report;
  ASSERT_TRUE(UnpackSwfs(folder, temp, &report)) << report.problem;
  EXPECT_EQ(report.packagePath, folder + "/vello.dat");
  EXPECT_EQ(ReadBytes(g_full), kMain);
}

// The main program goes out as the form hands it out: a protected one is
// followed by zeros up to its one block of 128 bytes.
TEST_F(SwfFilesTest, ProtectedMainProgramIsDecodedIntoItsFile) {
  ASSERT_TRUE(SavePackage(resources, {{kMain, kPreview, std::nullopt, true}}));
  ASSERT_TRUE(UnpackSwfs(resources, temp));
  Bytes padded = kMain;
  padded.resize(128, 0);
  EXPECT_EQ(ReadBytes(g_full), padded);
  EXPECT_EQ(ReadBytes(g_preview), kPreview);
}

TEST_F(SwfFilesTest, FormWithOnlyAnEmptyMainProgram) {
  ASSERT_TRUE(SavePackage(resources, {{Bytes{}, std::nullopt, std::nullopt}}));
  g_settings = "/left/over/ssstemp.123456";
  SwfExtractionReport report;
  ASSERT_TRUE(UnpackSwfs(resources, temp, &report));
  // An empty file that the page can still name; the preview shows it too,
  // and the settings path keeps what it held.
  ASSERT_FALSE(g_full.empty());
  EXPECT_EQ(ReadBytes(g_full), Bytes{});
  EXPECT_TRUE(report.full.written);
  EXPECT_EQ(g_preview, g_full);
  EXPECT_EQ(g_settings, "/left/over/ssstemp.123456");
  EXPECT_FALSE(report.preview.unpacked || report.settings.unpacked);
  EXPECT_EQ(FileCount(temp), 1u);
}

TEST_F(SwfFilesTest, PackageThatGivesNoFormReturnsFalseWritesNothingKeepsPaths) {
  const std::string package = resources + "/vello.dat";
  // Not a regular file: a FIFO would block the read for ever, a device read
  // without end.
  const std::string notRegular = package + " is not a regular file, so it is not read as a package";
  // Each makes what stands where the package belongs (nothing, at first).
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[] {}, "the package " + package + " was not found"},
      {[&] { EXPECT_TRUE(SavePackage(resources, {})); }, "the package " + package + " holds no form"},
      {[&] {
         EXPECT_TRUE(SavePackage(resources, {{kMain, kPreview, kSettings}}));
         std::filesystem::resize_file(package, 9);
       },
       "the package " + package +
           " is damaged: reading stopped at byte 9, header, m_headerString1: cut short"},
      {[&] { std::filesystem::create_directory(package); }, package + " is a folder, not a package file"},
      {[&] { EXPECT_EQ(mkfifo(package.c_str(), 0600), 0); }, notRegular},
      {[&] { std::filesystem::create_symlink("/dev/zero", package); }, notRegular},
  };
  for (const auto& [make, problem] : cases) {
    SCOPED_TRACE(problem);
    std::filesystem::remove_all(package);
    make();
    g_full = "/old/full";
    g_preview = "/old/preview";
    g_settings = "/old/settings";
    SwfExtractionReport report;
    EXPECT_FALSE(UnpackSwfs(resources, temp, &report));
    EXPECT_FALSE(report.loaded);
    EXPECT_EQ(report.problem, problem);
    EXPECT_EQ(g_full, "/old/full");
    EXPECT_EQ(g_preview, "/old/preview");
    EXPECT_EQ(g_settings, "/old/settings");
    EXPECT_EQ(FileCount(temp), 0u);
  }
}

// Sets a resource limit's soft value for the scope.
class ScopedLimit {
 public:
  ScopedLimit(int resource, rlim_t value) : m_resource(resource) {
    getrlimit(resource, &m_old);
    struct rlimit limit = m_old;
    limit.rlim_cur = value;
    setrlimit(resource, &limit);
  }
  ~ScopedLimit() { setrlimit(m_resource, &m_old); }

 private:
  int m_resource;
  struct rlimit m_old = {};
};

// A temporary folder that is missing, or a write cut short (files may not
// grow past 8 bytes; the write gets EFBIG instead of the signal), is a
// failure that says why. No path names an unfilled template or a removed
// file, and nothing is left anywhere.
TEST_F(SwfFilesTest, ProgramsThatCannotBeWrittenAreAFailureThatSaysWhy) {
  ASSERT_TRUE(SavePackage(resources, {{kMain, kPreview, kSettings}}));
  for (const bool cutShort : {false, true}) {
    const std::string folder = cutShort ? temp : temp + "/not-there";
    const std::string why = folder + ": " + std::strerror(cutShort ? EFBIG : ENOENT);
    SCOPED_TRACE(why);
    g_settings = "/old/settings";
    SwfExtractionReport report;
    {
      void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
      ScopedLimit fileSize(RLIMIT_FSIZE, cutShort ? 8 : RLIM_INFINITY);
      EXPECT_FALSE(UnpackSwfs(resources, folder, &report));
      signal(SIGXFSZ, previous);
    }
    EXPECT_TRUE(report.loaded && report.full.unpacked);
    EXPECT_EQ(report.problem, "the main program cannot be written to the temporary folder " + why);
    EXPECT_EQ(report.settings.problem,
              "the settings program cannot be written to the temporary folder " + why);
    EXPECT_EQ(g_full, "");
    EXPECT_EQ(g_preview, "");
    EXPECT_EQ(g_settings, "");
    EXPECT_FALSE(report.full.written || report.preview.written || report.settings.written);
    EXPECT_EQ(FileCount(temp), 0u);
  }
}

TEST_F(SwfFilesTest, FailedCreationNeverRecordsSoNeverDeletesTheTemplateName) {
  // Someone else's file that happens to carry the template's name.
  const std::string pathTemplate = FormatTemplate(kFullTemplate, temp);
  std::ofstream(pathTemplate) << "not ours";
  g_full = "/old/full";
  int error = 0;
  bool written = true;
  {
    // No descriptor left: mkstemp fails although the folder is writable.
    const int lowest = open("/dev/null", O_RDONLY);
    ASSERT_GE(lowest, 0);
    close(lowest);
    ScopedLimit descriptors(RLIMIT_NOFILE, static_cast<rlim_t>(lowest));
    written = WriteSwfFile(pathTemplate, kMain.data(), static_cast<int>(kMain.size()), g_full,
                           error);
  }
  EXPECT_FALSE(written);
  EXPECT_EQ(error, EMFILE);
  EXPECT_EQ(g_full, "");
  DeleteSwfFiles();  // what releasing the view does
  EXPECT_EQ(ReadBytes(pathTemplate), BytesOf("not ours"));
  EXPECT_EQ(FileCount(temp), 1u);
}

}  // namespace
