#include "saver/platform/TerminalText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Printable, ShowsWhatWouldDriveATerminalAndKeepsTheRest) {
  const struct {
    std::string text;
    size_t maxBytes;
    std::string shown;
  } cases[] = {
      {"plain text, caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x99\x82", 100,
       "plain text, caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x99\x82"},
      // A title, a colour, a bell; DEL; line breaks; the escape character itself.
      {"\x1b]0;owned\x07\x1b[31mred\x7f", 100, "\\x1b]0;owned\\x07\\x1b[31mred\\x7f"},
      {"a\nb\rc\td\\e", 100, "a\\nb\\rc\\td\\\\e"},
      // C1 controls (CSI, OSC), written as UTF-8.
      {"\xc2\x9b" "31m\xc2\x9d" "0;t\xc2\x80\xc2\xa0", 100, "\\u009b31m\\u009d0;t\\u0080\xc2\xa0"},
      // Not UTF-8: a lone C1 byte, a stray continuation, overlong forms,
      // surrogates, past U+10FFFF, a sequence cut short.
      {"\x9b\x80\xc0\xaf\xe0\x80\xaf\xed\xa0\x80\xf4\x90\x80\x80\xe2\x82", 100,
       "\\x9b\\x80\\xc0\\xaf\\xe0\\x80\\xaf\\xed\\xa0\\x80\\xf4\\x90\\x80\\x80\\xe2\\x82"},
      // Cut to whole characters.
      {"abcdef", 4, "abcd..."},
      {"ab\xe2\x82\xac", 4, "ab..."},
      {"ab\xe2\x82\xac", 5, "ab\xe2\x82\xac"},
  };
  for (const auto& c : cases) EXPECT_EQ(Printable(c.text, c.maxBytes), c.shown);
  EXPECT_EQ(Printable(std::string("x\0y", 3)), "x\\x00y");
}

}  // namespace
