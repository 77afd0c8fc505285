#include "saver/platform/headless/HeadlessPlatform.h"

#include <stdlib.h>

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>

namespace {

// Sets or clears $TMPDIR for one test and puts it back afterwards.
class TmpdirOverride {
 public:
  explicit TmpdirOverride(const char* value) {
    if (const char* old = getenv("TMPDIR")) m_old = old;
    if (value != nullptr) {
      setenv("TMPDIR", value, 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  ~TmpdirOverride() {
    if (m_old) {
      setenv("TMPDIR", m_old->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }

 private:
  std::optional<std::string> m_old;
};

TEST(HeadlessPlatform, TemporaryFolderComesFromTmpdirOrIsTmp) {
  std::ostringstream out;
  HeadlessPlatform platform("/res", out);
  {
    TmpdirOverride set("/var/tmp/lumetta/");
    EXPECT_EQ(platform.temporaryDirectory(), "/var/tmp/lumetta/");
  }
  {
    TmpdirOverride empty("");
    EXPECT_EQ(platform.temporaryDirectory(), "/tmp");
  }
  {
    TmpdirOverride unset(nullptr);
    EXPECT_EQ(platform.temporaryDirectory(), "/tmp");
  }
  EXPECT_EQ(platform.resourcePath(), "/res");
}

TEST(HeadlessPlatform, WebViewPrintsThePageItLoads) {
  std::ostringstream out;
  HeadlessPlatform platform("/res", out);
  auto view = platform.createWebView(Rect{0, 0, 800, 600});
  platform.addSubview(*view);
  platform.loadHTMLString(*view, "<html>\n</html>\n");
  EXPECT_EQ(out.str(),
            "web view 1: shown over (0, 0) 800x600\n"
            "web view 1: loads this page (15 bytes, no base URL):\n"
            "<html>\n</html>\n");
  EXPECT_EQ(static_cast<HeadlessWebView&>(*view).page(), "<html>\n</html>\n");
}

}  // namespace
