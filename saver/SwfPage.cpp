#include "saver/SwfPage.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

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

namespace {

struct Replacement {
  char character;
  const char* text;
};

// text with each character of the table written as its replacement.
template <size_t N>
std::string ReplaceCharacters(const std::string& text, const Replacement (&table)[N]) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    const Replacement* found = std::find_if(std::begin(table), std::end(table),
                                            [c](const Replacement& r) { return r.character == c; });
    if (found != std::end(table)) {
      result += found->text;
    } else {
      result += c;
    }
  }
  return result;
}

}  // namespace

std::string EncodeFileUrlPath(const std::string& path) {
  static constexpr Replacement kUrlSpecial[] = {
      {'%', "%25"}, {'#', "%23"}, {'?', "%3F"}, {' ', "%20"}};
  return ReplaceCharacters(path, kUrlSpecial);
}

std::string EscapeHtmlAttribute(const std::string& text) {
  static constexpr Replacement kMarkup[] = {
      {'"', "&quot;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'&', "&amp;"}};
  return ReplaceCharacters(text, kMarkup);
}

std::string ComposeSwfPage(int type) {
  std::string page;
  page += "<html>\n";
  page +=
      "<body MARGINHEIGHT=\"0\" MARGINWIDTH=\"0\" TOPMARGIN=\"0\" LEFTMARGIN=\"0\" "
      "RIGHTMARGIN=\"0\" BOTTOMMARGIN=\"0\" SCROLL=\"NO\">\n";
  if (const std::string* path = SwfPathOfType(type)) {
    page += "<embed src=\"file://";
    // A '#' or '?' in the temporary folder would otherwise cut the path
    // short; the URL is then written into the attribute.
    page += EscapeHtmlAttribute(EncodeFileUrlPath(*path));
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
