#include "saver/SwfFiles.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "saver/SaverGlobals.h"
#include "saver/SaverTestSupport_test.h"
#include "saver/SwfPage.h"

namespace {

const Bytes kMain = BytesOf("FWS\x0a main program bytes \x01\x02\x03");
const Bytes kPreview = BytesOf("FWS\x0a the preview");
const Bytes kSettings = BytesOf("FWS\x0a settings, a little longer than the preview");

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

class SwfFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSaverGlobals();
    ASSERT_FALSE(scratch.path().empty());
    resources = scratch.Make("Resources");
    temp = scratch.Make("T");
  }
  void TearDown() override { ResetSaverGlobals(); }

  ScratchFolder scratch;
  std::string resources;
  std::string temp;
};

TEST(PackagePath, JoinsWithOneSeparator) {
  EXPECT_EQ(PackagePath("/Library/Screen Savers/lumetta.saver/Contents/Resources"),
            "/Library/Screen Savers/lumetta.saver/Contents/Resources/vello.dat");
  EXPECT_EQ(PackagePath("/res/"), "/res/vello.dat");
  EXPECT_EQ(PackagePath("/"), "/vello.dat");
  EXPECT_EQ(PackagePath("res"), "res/vello.dat");
}

TEST(FormatTemplate, InsertsTheDirectoryAsGiven) {
  EXPECT_EQ(FormatTemplate(kFullTemplate, "/tmp"), "/tmp/ssftemp.XXXXXX");
  EXPECT_EQ(FormatTemplate(kPreviewTemplate, "/var/folders/T/"), "/var/folders/T//ssptemp.XXXXXX");
  EXPECT_EQ(FormatTemplate(kSettingsTemplate, "/a%@b"), "/a%@b/ssstemp.XXXXXX");
}

TEST_F(SwfFilesTest, WritesTheThreeProgramsToPrivateFiles) {
  ASSERT_TRUE(SavePackage(resources, {{kMain, kPreview, kSettings}}));
  SwfExtractionReport report;
  ASSERT_TRUE(UnpackSwfs(resources, temp, &report));

  const struct {
    const std::string& path;
    const char* prefix;
    const Bytes& content;
    const SwfFileReport& report;
  } programs[] = {
      {g_full, "/ssftemp.", kMain, report.full},
      {g_preview, "/ssptemp.", kPreview, report.preview},
      {g_settings, "/ssstemp.", kSettings, report.settings},
  };
  for (const auto& p : programs) {
    EXPECT_TRUE(StartsWith(p.path, temp + p.prefix)) << p.path;
    EXPECT_EQ(p.path.size(), temp.size() + 15);
    EXPECT_EQ(p.path.find("XXXXXX"), std::string::npos) << p.path;
    EXPECT_EQ(ReadBytes(p.path), p.content) << p.path;
    struct stat st = {};
    ASSERT_EQ(stat(p.path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << p.path;
    EXPECT_TRUE(p.report.unpacked && p.report.written);
    EXPECT_EQ(p.report.size, static_cast<int>(p.content.size()));
    EXPECT_EQ(p.report.path, p.path);
  }
  EXPECT_EQ(FilesIn(temp).size(), 3u);
  EXPECT_TRUE(report.loaded);
  EXPECT_EQ(report.packagePath, resources + "/vello.dat");
}

TEST_F(SwfFilesTest, ProtectedMainProgramIsDecodedIntoItsFile) {
  ASSERT_TRUE(SavePackage(resources, {{kMain, kPreview, std::nullopt, true}}));
  SwfExtractionReport report;
  ASSERT_TRUE(UnpackSwfs(resources, temp, &report));
  const std::optional<Bytes> file = ReadBytes(g_full);
  ASSERT_TRUE(file.has_value());
  // The protected reader hands out the whole payload: the program, then
  // zero bytes.
  ASSERT_GE(file->size(), kMain.size());
  EXPECT_EQ(Bytes(file->begin(), file->begin() + kMain.size()), kMain);
  EXPECT_TRUE(std::all_of(file->begin() + kMain.size(), file->end(),
                          [](unsigned char b) { return b == 0; }));
  EXPECT_EQ(report.full.size, static_cast<int>(file->size()));
  EXPECT_EQ(ReadBytes(g_preview), kPreview);
}

TEST_F(SwfFilesTest, OnlyTheFirstFormIsExtracted) {
  ASSERT_TRUE(SavePackage(resources, {{kMain, std::nullopt, std::nullopt}, {kPreview, kPreview, kSettings}}));
  ASSERT_TRUE(UnpackSwfs(resources, temp));
  EXPECT_EQ(ReadBytes(g_full), kMain);
  EXPECT_EQ(FilesIn(temp).size(), 1u);
}

TEST_F(SwfFilesTest, FormWithoutPreviewShowsTheMainFileAndKeepsSettings) {
  ASSERT_TRUE(SavePackage(resources, {{kMain, std::nullopt, std::nullopt}}));
  g_settings = "/left/over/ssstemp.123456";
  SwfExtractionReport report;
  ASSERT_TRUE(UnpackSwfs(resources, temp, &report));

  EXPECT_EQ(g_preview, g_full);
  EXPECT_EQ(g_settings, "/left/over/ssstemp.123456");
  EXPECT_FALSE(report.preview.unpacked);
  EXPECT_FALSE(report.settings.unpacked);
  EXPECT_EQ(FilesIn(temp).size(), 1u);
  // The preview page points at the main program's file.
  EXPECT_NE(ComposeSwfPage(kSwfPreview).find("src=\"file://" + g_full + "\""), std::string::npos);
}

TEST_F(SwfFilesTest, EmptyMainProgramGivesAnEmptyFileThePageStillNames) {
  ASSERT_TRUE(SavePackage(resources, {{Bytes{}, std::nullopt, std::nullopt}}));
  SwfExtractionReport report;
  ASSERT_TRUE(UnpackSwfs(resources, temp, &report));
  ASSERT_FALSE(g_full.empty());
  EXPECT_EQ(ReadBytes(g_full), Bytes{});
  EXPECT_TRUE(report.full.written);
  EXPECT_EQ(report.full.size, 0);
  EXPECT_NE(ComposeSwfPage(kSwfFull).find("src=\"file://" + g_full + "\""), std::string::npos);
}

struct UnreadablePackage {
  const char* name;
  void (*make)(const std::string& resources);
};

class SwfFilesNoPackageTest : public SwfFilesTest,
                              public ::testing::WithParamInterface<UnreadablePackage> {};

TEST_P(SwfFilesNoPackageTest, ReturnsFalseWritesNothingKeepsPaths) {
  GetParam().make(resources);
  g_full = "/old/full";
  g_preview = "/old/preview";
  g_settings = "/old/settings";
  SwfExtractionReport report;
  EXPECT_FALSE(UnpackSwfs(resources, temp, &report));
  EXPECT_FALSE(report.loaded);
  EXPECT_EQ(g_full, "/old/full");
  EXPECT_EQ(g_preview, "/old/preview");
  EXPECT_EQ(g_settings, "/old/settings");
  EXPECT_TRUE(FilesIn(temp).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Packages, SwfFilesNoPackageTest,
    ::testing::Values(
        UnreadablePackage{"Missing", [](const std::string&) {}},
        UnreadablePackage{"NoForms",
                          [](const std::string& dir) { ASSERT_TRUE(SavePackage(dir, {})); }},
        UnreadablePackage{"Truncated",
                          [](const std::string& dir) {
                            ASSERT_TRUE(SavePackage(dir, {{kMain, kPreview, kSettings}}));
                            std::filesystem::resize_file(dir + "/vello.dat", 9);
                          }},
        UnreadablePackage{"Directory",
                          [](const std::string& dir) {
                            std::filesystem::create_directory(dir + "/vello.dat");
                          }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SwfFilesTest, ResourcePathThatIsNotUtf8IsRefused) {
  // "\xFF" cannot start a character; a shortened path could name another file.
  const std::string odd = scratch.Make("R\xFF");
  ASSERT_TRUE(SavePackage(odd, {{kMain, std::nullopt, std::nullopt}}));
  EXPECT_FALSE(UnpackSwfs(odd, temp));
  EXPECT_TRUE(FilesIn(temp).empty());
}

TEST_F(SwfFilesTest, TemporaryFolderThatCannotHoldFiles) {
  ASSERT_TRUE(SavePackage(resources, {{kMain, kPreview, kSettings}}));
  const std::string missing = temp + "/not-there";
  SwfExtractionReport report;
  EXPECT_TRUE(UnpackSwfs(resources, missing, &report));
  // The paths are recorded, and nothing is written anywhere.
  EXPECT_EQ(g_full, missing + "/ssftemp.XXXXXX");
  EXPECT_EQ(g_preview, missing + "/ssptemp.XXXXXX");
  EXPECT_EQ(g_settings, missing + "/ssstemp.XXXXXX");
  EXPECT_TRUE(report.full.unpacked);
  EXPECT_FALSE(report.full.written);
  EXPECT_FALSE(report.preview.written);
  EXPECT_FALSE(report.settings.written);
  EXPECT_TRUE(FilesIn(temp).empty());
  DeleteSwfFiles();  // nothing there to delete; must not fail loudly
}

TEST_F(SwfFilesTest, LongTemporaryFolderFits) {
  std::string deep = temp;
  for (int i = 0; i < 6; ++i) deep += "/" + std::string(200, static_cast<char>('a' + i));
  std::filesystem::create_directories(deep);
  ASSERT_TRUE(SavePackage(resources, {{kMain, std::nullopt, kSettings}}));
  ASSERT_TRUE(UnpackSwfs(resources, deep));
  EXPECT_TRUE(StartsWith(g_full, deep + "/ssftemp."));
  EXPECT_EQ(ReadBytes(g_full), kMain);
  EXPECT_EQ(ReadBytes(g_settings), kSettings);
}

TEST_F(SwfFilesTest, TrailingSeparatorInTheTemporaryFolderIsKept) {
  ASSERT_TRUE(SavePackage(resources, {{kMain, std::nullopt, std::nullopt}}));
  ASSERT_TRUE(UnpackSwfs(resources, temp + "/"));
  EXPECT_TRUE(StartsWith(g_full, temp + "//ssftemp.")) << g_full;
  EXPECT_EQ(ReadBytes(g_full), kMain);
}

TEST_F(SwfFilesTest, SecondExtractionMakesNewFilesAndOverwritesThePaths) {
  ASSERT_TRUE(SavePackage(resources, {{kMain, kPreview, kSettings}}));
  ASSERT_TRUE(UnpackSwfs(resources, temp));
  const std::string firstFull = g_full;
  const std::string firstSettings = g_settings;
  ASSERT_TRUE(UnpackSwfs(resources, temp));
  EXPECT_NE(g_full, firstFull);
  EXPECT_NE(g_settings, firstSettings);
  EXPECT_EQ(FilesIn(temp).size(), 6u);
}

TEST_F(SwfFilesTest, DeleteRemovesTheNamedFilesAndKeepsThePaths) {
  ASSERT_TRUE(SavePackage(resources, {{kMain, std::nullopt, kSettings}}));
  ASSERT_TRUE(UnpackSwfs(resources, temp));
  ASSERT_EQ(g_preview, g_full);
  const std::string full = g_full;
  DeleteSwfFiles();
  EXPECT_TRUE(FilesIn(temp).empty());
  EXPECT_EQ(g_full, full);
  EXPECT_EQ(g_preview, full);
  DeleteSwfFiles();  // a second time: every unlink fails, silently
  EXPECT_TRUE(FilesIn(temp).empty());
}

TEST_F(SwfFilesTest, WriteSwfFileRefusesATemplateWithoutSixX) {
  std::string path = "unchanged";
  const Bytes data = kMain;
  EXPECT_FALSE(WriteSwfFile(temp + "/x.XXX", data.data(), static_cast<int>(data.size()), path));
  EXPECT_EQ(path, temp + "/x.XXX");
  EXPECT_TRUE(FilesIn(temp).empty());
}

}  // namespace
