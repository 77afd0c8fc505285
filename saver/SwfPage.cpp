#include "saver/SwfPage.h"

#include "saver/SaverGlobals.h"
#include "saver/SwfFiles.h"

const std::string* SwfPathOfType(int type) {
  switch (type) {
    case kSwfFull:
      return &g_full;
    case kSwfPreview:
      return &g_preview;
    case kSwfSettings:
      return &g_settings;
    default:
      return nullptr;
  }
}

std::string EscapeHtmlAttribute(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '"':
        result += "&quot;";
        break;
      case '<':
        result += "&lt;";
        break;
      case '>':
        result += "&gt;";
        break;
      case '&':
        result += "&amp;";
        break;
      default:
        result += c;
    }
  }
  return result;
}

std::string ComposeSwfPage(int type) {
  std::string page;
  page += "<html>\n";
  page +=
      "<body MARGINHEIGHT=\"0\" MARGINWIDTH=\"0\" TOPMARGIN=\"0\" LEFTMARGIN=\"0\" "
      "RIGHTMARGIN=\"0\" BOTTOMMARGIN=\"0\" SCROLL=\"NO\">\n";
  if (const std::string* path = SwfPathOfType(type)) {
    page += "<embed src=\"file://";
    page += EscapeHtmlAttribute(*path);
    page += "\"";
  }
  page +=
      " width=\"100%\" height=\"100%\" allowScriptAccess=\"always\" swliveconnect=\"true\" "
      "allowFullScreen=\"true\"";
  // The element is closed this way, and the body follows on the same line.
  page += " type=\"application/x-shockwave-flash\" wmode=\"direct\" id=\"mySWF\" /embed>";
  page += "</body>\n";
  page += "</html>\n";
  return page;
}
