#include "saver/platform/headless/HeadlessPlatform.h"

#include <stdlib.h>

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>

namespace {

TEST(HeadlessPlatform, TemporaryFolderComesFromTmpdirOrIsTmp) {
  const char* old = getenv("TMPDIR");
  const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
  std::ostringstream out;
  HeadlessPlatform platform("/res", out);
  const std::pair<const char*, const char*> cases[] = {
      {"/var/tmp/lumetta/", "/var/tmp/lumetta/"}, {"", "/tmp"}, {nullptr, "/tmp"}};
  for (const auto& [value, expected] : cases) {
    value != nullptr ? setenv("TMPDIR", value, 1) : unsetenv("TMPDIR");
    EXPECT_EQ(platform.temporaryDirectory(), expected) << (value ? value : "unset");
  }
  saved ? setenv("TMPDIR", saved->c_str(), 1) : unsetenv("TMPDIR");
}

TEST(HeadlessPlatform, WebViewPrintsThePageItLoads) {
  std::ostringstream out;
  HeadlessPlatform platform("/res", out);
  auto view = platform.createWebView(Rect{0, 0, 800, 600});
  platform.addSubview(*view);
  platform.loadHTMLString(*view, "<html>\n</html>");
  EXPECT_EQ(out.str(),
            "web view 1: shown over (0, 0) 800x600\n"
            "web view 1: loads this page (14 bytes, no base URL):\n"
            "<html>\n</html>\n");
  EXPECT_EQ(static_cast<HeadlessWebView&>(*view).page(), "<html>\n</html>");
}

}  // namespace
