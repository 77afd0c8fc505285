#include "saver/SwfPage.h"

#include <gtest/gtest.h>

#include <string>

#include "saver/SaverGlobals.h"
#include "saver/SaverTestSupport_test.h"

namespace {

const std::string kHead =
    "<html>\n"
    "<body MARGINHEIGHT=\"0\" MARGINWIDTH=\"0\" TOPMARGIN=\"0\" LEFTMARGIN=\"0\" RIGHTMARGIN=\"0\" "
    "BOTTOMMARGIN=\"0\" SCROLL=\"NO\">\n";
const std::string kTail =
    " width=\"100%\" height=\"100%\" allowScriptAccess=\"always\" swliveconnect=\"true\" "
    "allowFullScreen=\"true\" type=\"application/x-shockwave-flash\" wmode=\"direct\" "
    "id=\"mySWF\" /embed></body>\n"
    "</html>\n";

TEST(SwfPage, PagesForEveryTypeAreExactAndPathsAreEscaped) {
  g_full = "/tmp/ssftemp.AAAAAA";
  g_preview = "/tmp/ssptemp.BBBBBB";
  g_settings = "/tmp/ssstemp.CCCCCC";
  const std::pair<int, std::string> cases[] = {
      {0, kHead + "<embed src=\"file:///tmp/ssftemp.AAAAAA\"" + kTail},
      {1, kHead + "<embed src=\"file:///tmp/ssptemp.BBBBBB\"" + kTail},
      {2, kHead + "<embed src=\"file:///tmp/ssstemp.CCCCCC\"" + kTail},
      // Unknown types carry the attributes straight after the body line.
      {3, kHead + kTail},
      {-1, kHead + kTail},
  };
  for (const auto& [type, page] : cases) EXPECT_EQ(ComposeSwfPage(type), page) << "type " << type;

  // Only the four markup characters change; spaces, quotes, % and UTF-8 pass.
  g_full = "/tmp/a\"b<c>d&amp; 'e' %20/\xC3\xA9t\xC3\xA9";
  EXPECT_EQ(ComposeSwfPage(0),
            kHead +
                "<embed src=\"file:///tmp/a&quot;b&lt;c&gt;d&amp;amp; 'e' %20/\xC3\xA9t\xC3\xA9\"" +
                kTail);
  ResetSaverGlobals();
}

}  // namespace
