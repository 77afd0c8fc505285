#include "saver/SwfPage.h"

#include <gtest/gtest.h>

#include <string>

#include "saver/SaverGlobals.h"
#include "saver/SaverTestSupport_test.h"

namespace {

const char kHead[] =
    "<html>\n"
    "<body MARGINHEIGHT=\"0\" MARGINWIDTH=\"0\" TOPMARGIN=\"0\" LEFTMARGIN=\"0\" RIGHTMARGIN=\"0\" "
    "BOTTOMMARGIN=\"0\" SCROLL=\"NO\">\n";
const char kTail[] =
    " width=\"100%\" height=\"100%\" allowScriptAccess=\"always\" swliveconnect=\"true\" "
    "allowFullScreen=\"true\" type=\"application/x-shockwave-flash\" wmode=\"direct\" "
    "id=\"mySWF\" /embed></body>\n"
    "</html>\n";

class SwfPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSaverGlobals();
    g_full = "/tmp/ssftemp.AAAAAA";
    g_preview = "/tmp/ssptemp.BBBBBB";
    g_settings = "/tmp/ssstemp.CCCCCC";
  }
  void TearDown() override { ResetSaverGlobals(); }
};

struct PageCase {
  int type;
  std::string expected;
};

TEST_F(SwfPageTest, PagesForEveryTypeAreExact) {
  const PageCase cases[] = {
      {0, std::string(kHead) + "<embed src=\"file:///tmp/ssftemp.AAAAAA\"" + kTail},
      {1, std::string(kHead) + "<embed src=\"file:///tmp/ssptemp.BBBBBB\"" + kTail},
      {2, std::string(kHead) + "<embed src=\"file:///tmp/ssstemp.CCCCCC\"" + kTail},
      // Unknown types carry the attributes straight after the body line.
      {3, std::string(kHead) + kTail},
      {-1, std::string(kHead) + kTail},
  };
  for (const PageCase& c : cases) {
    EXPECT_EQ(ComposeSwfPage(c.type), c.expected) << "type " << c.type;
  }
}

TEST_F(SwfPageTest, WholePageForTheMainProgramByteForByte) {
  // Written out in one piece so a slip in the pieces' order shows.
  EXPECT_EQ(ComposeSwfPage(0),
            "<html>\n<body MARGINHEIGHT=\"0\" MARGINWIDTH=\"0\" TOPMARGIN=\"0\" LEFTMARGIN=\"0\" "
            "RIGHTMARGIN=\"0\" BOTTOMMARGIN=\"0\" SCROLL=\"NO\">\n<embed "
            "src=\"file:///tmp/ssftemp.AAAAAA\" width=\"100%\" height=\"100%\" "
            "allowScriptAccess=\"always\" swliveconnect=\"true\" allowFullScreen=\"true\" "
            "type=\"application/x-shockwave-flash\" wmode=\"direct\" id=\"mySWF\" "
            "/embed></body>\n</html>\n");
}

TEST_F(SwfPageTest, EmptyPathGivesBareFileScheme) {
  g_full.clear();
  EXPECT_EQ(ComposeSwfPage(0), std::string(kHead) + "<embed src=\"file://\"" + kTail);
}

TEST_F(SwfPageTest, PathIsMadeSafeForTheAttribute) {
  g_full = "/tmp/a\"b<c>d&e f/ssftemp.x";
  EXPECT_EQ(ComposeSwfPage(0),
            std::string(kHead) + "<embed src=\"file:///tmp/a&quot;b&lt;c&gt;d&amp;e f/ssftemp.x\"" +
                kTail);
}

TEST(EscapeHtmlAttribute, ReplacesOnlyTheFourMarkupCharacters) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"/var/folders/x y/T/ssftemp.Ab3_-9", "/var/folders/x y/T/ssftemp.Ab3_-9"},
      {"\"", "&quot;"},
      {"<>", "&lt;&gt;"},
      {"&amp;", "&amp;amp;"},
      {"'single' %20 #", "'single' %20 #"},
      {"/tmp/\xC3\xA9t\xC3\xA9", "/tmp/\xC3\xA9t\xC3\xA9"},  // UTF-8 passes through
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(EscapeHtmlAttribute(in), out) << in;
}

}  // namespace
