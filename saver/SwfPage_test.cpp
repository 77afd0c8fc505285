#include "saver/SwfPage.h"

#include <gtest/gtest.h>

#include <string>

#include "saver/SaverGlobals.h"
#include "saver/SaverTestSupport_test.h"
#include "saver/SwfFiles.h"

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

  // Markup characters become references; '%', '#', '?' and space are
  // percent-encoded first; quotes, other punctuation and UTF-8 pass.
  g_full = "/tmp/a\"b<c>d&amp; 'e' %20#f?g=h/\xC3\xA9t\xC3\xA9";
  EXPECT_EQ(ComposeSwfPage(0),
            kHead +
                "<embed src=\"file:///tmp/a&quot;b&lt;c&gt;d&amp;amp;%20'e'%20%2520%23f%3Fg=h/"
                "\xC3\xA9t\xC3\xA9\"" +
                kTail);
  ResetSaverGlobals();
}

// The page's URL, decoded as a web engine would, names the file that was
// written, also in a temporary folder whose name holds URL characters.
using SwfPageFileTest = SaverTest;

std::string PercentDecode(const std::string& text) {
  std::string result;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      result += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      result += text[i];
    }
  }
  return result;
}

TEST_F(SwfPageFileTest, SourceUrlNamesTheExtractedFileInAnAwkwardFolder) {
  ASSERT_TRUE(SavePackage(resources, {{BytesOf("FWS\x0a awkward"), std::nullopt, std::nullopt}}));
  const std::string dir = Make("50% off #1? yes");
  ASSERT_TRUE(UnpackSwfs(resources, dir));
  const std::string page = ComposeSwfPage(kSwfFull);
  const std::string open = "<embed src=\"file://";
  const size_t from = page.find(open) + open.size();
  const std::string url = page.substr(from, page.find('"', from) - from);
  EXPECT_EQ(url.find_first_of("#? "), std::string::npos) << url;
  EXPECT_EQ(PercentDecode(url), g_full);
}

}  // namespace
