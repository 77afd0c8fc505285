#include "saver/platform/ResourceFolders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

class ShareFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_root = fs::path(::testing::TempDir()) /
             ("share-folder-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(m_root);
    fs::create_directories(m_root);
  }
  void TearDown() override { fs::remove_all(m_root); }
  void Touch(const fs::path& file) {
    fs::create_directories(file.parent_path());
    std::ofstream(file).put('x');
  }
  fs::path m_root;
};

// Installed, the player is looked for beside the package; only a prefix
// that really holds it counts, otherwise the build's layout is assumed.
TEST_F(ShareFolderTest, InstalledPrefixWhenThePlayerIsThereElseBesideTheProgram) {
  const fs::path prefix = m_root / "prefix";
  fs::create_directories(prefix / "bin");
  EXPECT_EQ(ShareFolderFor((prefix / "bin").string()), (prefix / "bin" / "share").string())
      << "a prefix without the player";
  Touch(prefix / "share" / "lumetta" / "ruffle" / "ruffle.js");
  EXPECT_EQ(ShareFolderFor((prefix / "bin").string()), (prefix / "share" / "lumetta").string());

  // A build tree: the program in saver/, its share folder beside it.
  const fs::path build = m_root / "build";
  Touch(build / "CMakeCache.txt");
  Touch(build / "saver" / "share" / "ruffle" / "ruffle.js");
  EXPECT_EQ(ShareFolderFor((build / "saver").string()), (build / "saver" / "share").string());
}

}  // namespace
