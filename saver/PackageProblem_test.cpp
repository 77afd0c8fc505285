#include "saver/PackageProblem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "saver/SaverTestSupport_test.h"

namespace {

using PackageProblemTest = SaverTest;

// Missing files, folders and damaged packages are told apart through the
// extraction's own tests; here the causes that need a crafted file.
TEST_F(PackageProblemTest, FilesThatAreNoPackageOfThisFormat) {
  const std::string path = resources + "/vello.dat";
  const std::string notOurs = path + " is not a package of this format";
  const std::pair<std::string, std::string> cases[] = {
      {std::string(), notOurs},                                  // empty
      {std::string("\x0e\x00\x00", 3), notOurs},                 // shorter than the version
      {std::string("\x00\x00\x00\x00 rest", 9), notOurs},        // version 0
      {std::string("\x0f\x00\x00\x00 rest", 9), notOurs},        // version 15
      {std::string("\x01\x00\x00\x80 rest", 9), notOurs},        // negative version
      {"<html><body>not a package</body></html>", notOurs},      // text
      {std::string("\x01\x00\x00\x00", 4), "the package " + path + " is damaged"},
      {std::string("\x0e\x00\x00\x00\x07", 5), "the package " + path + " is damaged"},
  };
  for (const auto& [content, problem] : cases) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    EXPECT_EQ(PackageProblem(path, ""), problem) << content.size();
  }
  EXPECT_EQ(PackageProblem(path, "at byte 4, m_headerInt1: 1 byte left of 4"),
            "the package " + path + " is damaged: reading stopped at byte 4, m_headerInt1: 1 "
            "byte left of 4");
}

TEST_F(PackageProblemTest, PackageThatCannotBeRead) {
  const std::string path = resources + "/vello.dat";
  EXPECT_EQ(PackageOpenProblem(path, EACCES), "no permission to read the package " + path);
  EXPECT_EQ(PackageOpenProblem(path, ELOOP),
            "the package " + path + " cannot be opened: " + std::strerror(ELOOP));
  // Below a plain file rather than a folder.
  std::ofstream(resources + "/file") << "x";
  EXPECT_EQ(PackageProblem(resources + "/file/vello.dat", ""),
            "the package " + resources + "/file/vello.dat cannot be opened: " +
                std::strerror(ENOTDIR));
  if (geteuid() != 0) {  // root reads any file; the text is checked above
    std::ofstream(path) << "\x0e";
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    EXPECT_EQ(PackageProblem(path, ""), "no permission to read the package " + path);
  }
}

}  // namespace
