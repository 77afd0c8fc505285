// The progress bar: only for content over 8 MiB, only on a terminal, never
// with --quiet. script(1) gives the program a terminal.

#include <gtest/gtest.h>

#include <cstdio>

#include "tools/vello/VelloRun_test.h"

namespace {

// What the program writes to the terminal script gives it.
std::string OnTerminal(const std::string& args) {
  const std::string command = "script -qec '" + std::string(VELLO_PROGRAM) + " " + args + "' /dev/null";
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    pclose(p);
  }
  return out;
}

TEST(Progress, ShownOnlyForBigContentOnATerminal) {
  TempDir dir;
  const std::string big = dir.Write("big.swf", vellorun::Fws((8u << 20) + 1, 10, 1));
  const std::string small = dir.Write("small.swf", vellorun::Fws(1u << 20, 10, 1));

  // The protected program decodes to half the bytes it is stored in: the
  // bars of extract and verify still end full.
  const std::pair<std::string, std::string> bars[] = {
      {"pack -o " + dir.File("a.dat") + " --main " + big + " --protect", "\rpacking ["},
      {"extract " + dir.File("a.dat") + " -o " + dir.File("x"), "\rextracting ["},
      {"verify " + dir.File("a.dat"), "\rverifying ["}};
  for (const auto& [command, label] : bars) {
    const std::string bar = OnTerminal(command);
    EXPECT_NE(bar.find(label), std::string::npos) << bar;
    EXPECT_NE(bar.find("] 100%"), std::string::npos) << bar;
  }
  EXPECT_EQ(OnTerminal("pack -o " + dir.File("b.dat") + " --main " + big + " --quiet"), "");
  // Small content: no bar, only the line saying what was written.
  const std::string line = OnTerminal("pack -o " + dir.File("c.dat") + " --main " + small);
  EXPECT_EQ(line.find('['), std::string::npos) << line;
  EXPECT_NE(line.find(dir.File("c.dat") + ": packed 1 form, "), std::string::npos) << line;

  const auto notTerminal = vellorun::Vello(dir, {"pack", "-o", dir.File("d.dat"), "--main", big});
  EXPECT_EQ(notTerminal.exitCode, 0);
  EXPECT_EQ(notTerminal.err, "");
  EXPECT_EQ(notTerminal.out, dir.File("d.dat") + ": packed 1 form, " +
                                 std::to_string(std::filesystem::file_size(dir.File("d.dat"))) + " bytes\n");
  const auto quiet = vellorun::Vello(dir, {"extract", "-q", dir.File("d.dat"), "-o", dir.File("y")});
  EXPECT_EQ(quiet.out + quiet.err, "");
}

}  // namespace
