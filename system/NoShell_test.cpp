// The library and the saver run no command: no shell, no other program.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

namespace fs = std::filesystem;

namespace {

// A call of system, popen or an exec function, however qualified.
const std::regex call(
    R"(\b(system|popen|execl|execlp|execle|execv|execve|execvp|execvpe|fexecve|execveat)\s*\()");

TEST(NoShellTest, LibraryAndSaverSourcesCallNoCommandRunner) {
  const fs::path root = fs::path(VELLO_TESTDATA_DIR).parent_path().parent_path();
  int scanned = 0;
  for (const char* folder : {"system", "encryption", "builder_package", "saver"}) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root / folder, ec), end; !ec && it != end;
         it.increment(ec)) {
      const std::string name = it->path().filename().string();
      const std::string ext = it->path().extension().string();
      if (!it->is_regular_file() || name.find("_test.") != std::string::npos) continue;
      if (ext != ".cpp" && ext != ".h" && ext != ".c" && ext != ".mm" && ext != ".m") continue;
      std::ifstream in(it->path());
      int line = 0;
      for (std::string text; std::getline(in, text);) {
        ++line;
        EXPECT_FALSE(std::regex_search(text, call)) << it->path().string() << ":" << line << ": " << text;
      }
      ++scanned;
    }
  }
  EXPECT_GT(scanned, 20);  // the folders were really found
}

// The scan above passes on any text if its pattern sees nothing.
TEST(NoShellTest, ThePatternSeesACallAndNoLookAlike) {
  for (const char* text : {"std::system(cmd)", "popen (c, \"r\")", "execvp(argv[0], argv)"})
    EXPECT_TRUE(std::regex_search(std::string(text), call)) << text;
  for (const char* text : {"CSystem()", "std::system_error(e)"})
    EXPECT_FALSE(std::regex_search(std::string(text), call)) << text;
}

}  // namespace
