#include "saver/platform/TerminalText.h"

#include <cstdio>

namespace {

void AppendHex(std::string& out, const char* form, unsigned value) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, form, value);
  out += buffer;
}

// The length of the well-formed UTF-8 sequence at text[at] of two to four
// bytes (no overlong form, no surrogate, nothing past U+10FFFF), with its
// code point; 0 when there is none.
size_t Utf8Sequence(std::string_view text, size_t at, unsigned& codePoint) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned lead = byte(0);
  size_t length = 0;
  unsigned min = 0;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2, min = 0x80, codePoint = lead & 0x1f;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3, min = 0x800, codePoint = lead & 0x0f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4, min = 0x10000, codePoint = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xc0) != 0x80) return 0;
    codePoint = codePoint << 6 | (byte(i) & 0x3f);
  }
  if (codePoint < min || codePoint > 0x10ffff || (codePoint >= 0xd800 && codePoint <= 0xdfff)) return 0;
  return length;
}

}  // namespace

std::string Printable(std::string_view text) { return Printable(text, text.size()); }

std::string Printable(std::string_view text, size_t maxBytes) {
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    unsigned codePoint = 0;
    const size_t length = c < 0x80 ? 1 : Utf8Sequence(text, at, codePoint);
    if (at + (length == 0 ? 1 : length) > maxBytes) break;
    if (length == 0) {
      AppendHex(out, "\\x%02x", c);
      at += 1;
      continue;
    }
    if (length > 1) {
      if (codePoint <= 0x9f) {
        AppendHex(out, "\\u%04x", codePoint);
      } else {
        out.append(text.substr(at, length));
      }
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c == 0x7f) {
      AppendHex(out, "\\x%02x", c);
    } else {
      out += static_cast<char>(c);
    }
    at += length;
  }
  if (at < text.size()) out += "...";
  return out;
}
