#include "saver/platform/LumettaSettings.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/lumetta-settings.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    m_folder = folder;
    m_file = (m_folder / "lumetta" / "lumetta.conf").string();
  }
  void TearDown() override { fs::remove_all(m_folder); }

  void Write(const std::string& text) {
    fs::create_directories(fs::path(m_file).parent_path());
    std::ofstream(m_file) << text;
  }
  std::string Read() const {
    std::ifstream in(m_file);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  fs::path m_folder;
  std::string m_file;
};

// Good lines set their options; a bad file is named with its line and
// changes nothing, not even the settings on the lines before the bad one.
TEST_F(SettingsFile, GoodLinesSetTheirOptionsABadLineIsNamedAndNothingIsTaken) {
  LumettaOptions good;
  good.resources = "/srv/pkg";
  good.renderer = LumettaRendererChoice::canvas;
  good.sound = good.network = true;
  const struct {
    const char* text;
    const char* error;  // none: the file is good
    LumettaOptions options;
  } cases[] = {
      {"# mine\n\n  resources = /srv/pkg  \nrenderer=canvas\nsound = yes\nnetwork = on\n", nullptr, good},
      {"resources = /a\nrenderer = fast\n", ":2: renderer needs auto, webgl or canvas, not 'fast'", {}},
      {"resources = /a\n# c\ncolour = red\n", ":3: unknown setting 'colour' (known: resources, renderer, sound, network)", {}},
      {"resources = /a\nsound\n", ":2: not a setting (name = value)", {}},
      {"sound = maybe\n", ":1: sound needs yes or no, not 'maybe'", {}},
      {"resources =\n", ":1: resources needs a folder or a vello.dat", {}},
  };
  for (const auto& c : cases) {
    Write(c.text);
    LumettaOptions options;
    std::string error;
    EXPECT_EQ(ReadSettingsFile(m_file, options, error), c.error == nullptr) << c.text;
    EXPECT_EQ(error, c.error != nullptr ? m_file + c.error : "") << c.text;
    EXPECT_EQ(options, c.options) << c.text;
  }
}

// What stands where the file belongs is refused without waiting on it (a
// FIFO would hang the screen saver) or reading without end.
TEST_F(SettingsFile, MissingIsNoErrorAndWhatIsNoSettingsFileIsRefused) {
  LumettaOptions options;
  std::string error;
  EXPECT_TRUE(ReadSettingsFile(m_file, options, error));
  const std::vector<std::pair<std::function<void()>, std::string>> cases = {
      {[&] { fs::create_directories(m_file); }, "it is a folder"},
      {[&] { ASSERT_EQ(mkfifo(m_file.c_str(), 0600), 0); }, "it is not a regular file"},
      {[&] { fs::create_symlink("/dev/zero", m_file); }, "it is not a regular file"},
      {[&] { Write(std::string(64 * 1024 + 1, '#')); }, "it is larger than 64 KiB"},
  };
  for (const auto& [make, why] : cases) {
    fs::remove_all(fs::path(m_file).parent_path());
    fs::create_directories(fs::path(m_file).parent_path());
    make();
    error.clear();
    EXPECT_FALSE(ReadSettingsFile(m_file, options, error)) << why;
    EXPECT_EQ(error, "cannot read the settings file " + m_file + ": " + why);
  }
}

// Written without an editor: made with its folder, a setting replaced
// where it stood, the person's other lines kept, one removed; a bad
// assignment changes nothing.
TEST_F(SettingsFile, SetReplacesItsLineAndKeepsTheRest) {
  std::string error;
  ASSERT_TRUE(WriteSetting(m_file, "renderer=webgl", error)) << error;
  ASSERT_TRUE(WriteSetting(m_file, "sound=yes", error)) << error;
  EXPECT_EQ(Read(),
            "# lumetta's settings (man lumetta); lumetta --set NAME=VALUE changes them.\n"
            "renderer = webgl\nsound = yes\n");
  Write("# mine\nrenderer = webgl\nsound = yes\nrenderer = canvas\n");
  ASSERT_TRUE(WriteSetting(m_file, "renderer=canvas", error)) << error;
  ASSERT_TRUE(WriteSetting(m_file, "sound=", error)) << error;
  const std::string cwd = fs::current_path().string();
  ASSERT_TRUE(WriteSetting(m_file, "resources=pkg/../mine", error)) << error;
  EXPECT_EQ(Read(), "# mine\nrenderer = canvas\nresources = " + cwd + "/mine\n");
  for (const char* bad : {"renderer=fast", "colour=red", "colour=", "sound", "resources=/dev/null"})
    EXPECT_FALSE(WriteSetting(m_file, bad, error)) << bad;
  EXPECT_EQ(Read(), "# mine\nrenderer = canvas\nresources = " + cwd + "/mine\n");
}

TEST_F(SettingsFile, WhereItLies) {
  const std::string home = getenv("HOME") ? getenv("HOME") : "";
  const char* config = getenv("XDG_CONFIG_HOME");
  const std::string keep = config ? config : "";
  setenv("HOME", "/home/someone", 1);
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(SettingsFilePath(), "/cfg/lumetta/lumetta.conf");
  setenv("XDG_CONFIG_HOME", "relative", 1);  // ignored, as the base directory rules say
  EXPECT_EQ(SettingsFilePath(), "/home/someone/.config/lumetta/lumetta.conf");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(SettingsFilePath(), "/home/someone/.config/lumetta/lumetta.conf");
  setenv("HOME", home.c_str(), 1);
  if (config) setenv("XDG_CONFIG_HOME", keep.c_str(), 1);
}

TEST_F(SettingsFile, ThePackageFileOrItsFolder) {
  fs::create_directories(m_folder / "pkg");
  std::ofstream(m_folder / "pkg" / "vello.dat") << "x";
  std::ofstream(m_folder / "pkg" / "other.dat") << "x";
  std::string folder;
  std::string error;
  ASSERT_TRUE(ResourceFolderOf((m_folder / "pkg" / "vello.dat").string(), folder, error));
  EXPECT_EQ(folder, (m_folder / "pkg").string());
  ASSERT_TRUE(ResourceFolderOf((m_folder / "pkg").string(), folder, error));
  EXPECT_EQ(folder, (m_folder / "pkg").string());
  // Missing: left for the package's own report.
  ASSERT_TRUE(ResourceFolderOf("/no/such", folder, error));
  EXPECT_EQ(folder, "/no/such");
  EXPECT_FALSE(ResourceFolderOf((m_folder / "pkg" / "other.dat").string(), folder, error));
}

}  // namespace
