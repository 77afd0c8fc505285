#include "tools/vello/OutputFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "builder_package/FileContent.h"
#include "tools/vello/Progress.h"
#include "tools/vello/Text.h"
#include "tools/vello/ToolError.h"
#include "tools/vello/VelloRun_test.h"

using vellorun::Bytes;

// A folder of the way that becomes a link after the checks is refused by
// name when written, and nothing lands behind the link.
TEST(OutputFolderTest, AFolderSwappedForALinkIsNamed) {
  TempDir dir;
  std::filesystem::create_directories(dir.File("outside"));
  OutputFolder folder(dir.File("out"), false);
  EXPECT_EQ(folder.Refusal("files/a.bin"), "");
  std::filesystem::create_directory_symlink(dir.File("outside"), dir.File("out/files"));
  const Bytes bytes = {1, 2, 3};
  Progress progress("extracting", 3);
  try {
    folder.Stage("files/a.bin", FileContent::Held(RunBytes(bytes.begin(), bytes.end())), progress);
    ADD_FAILURE() << "written through a link";
  } catch (const ToolError& e) {
    EXPECT_EQ(std::string(e.what()), dir.File("out/files/a.bin") + ": refused: files is a symbolic link");
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.File("outside")));
}

// Text for a terminal: control characters escaped, the rest unchanged.
TEST(TextTest, TerminalTextEscapesControlCharacters) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain name.swf", "plain name.swf"},
      {"\x1b[31mred", "\\x1B[31mred"},
      {"\x1b]0;title\x07", "\\x1B]0;title\\x07"},
      {"tab\there\x7f", "tab\\x09here\\x7F"},
      {"c1 \xc2\x9b" "2J \xc2\x85", "c1 \\u009B2J \\u0085"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"bad \x9b \xc3 \xed\xa0\x80", "bad \\x9B \\xC3 \\xED\\xA0\\x80"},
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(Shown(text), shown);
}
