#include "tools/vello/Text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "system/SysStringHelper.h"
#include "tools/vello/ToolError.h"

std::wstring Wide(const std::string& utf8) { return CSysStringHelper::GetSingleton().FromUTF8(utf8); }

std::wstring Wide(const std::filesystem::path& path) { return Wide(path.string()); }

std::string Utf8(const std::wstring& wide) { return CSysStringHelper::GetSingleton().ToUTF8(wide); }

std::wstring WidePath(const std::string& path) {
  std::wstring wide = Wide(path);
  if (Utf8(wide) != path)
    throw ToolError(kExitUsage, path + ": the library takes this path as Unicode text, and it is not UTF-8");
  return wide;
}

std::string LastSystemError() { return std::strerror(errno); }

namespace {

// Length of the well-formed UTF-8 sequence at text[at], or 0.
size_t SequenceLength(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) n = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) n = 3, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
  else if (lead >= 0xF0 && lead <= 0xF4) n = 4, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
  else return 0;
  if (at + n > text.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < n; ++i)
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  return n;
}

}  // namespace

std::string Shown(const std::string& text) {
  std::string shown;
  shown.reserve(text.size());
  char escape[8];
  for (size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c >= 0x20 && c < 0x7F) {
      shown += static_cast<char>(c);
      ++at;
      continue;
    }
    const size_t n = c < 0x80 ? 0 : SequenceLength(text, at);
    if (n == 0) {
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      shown += escape;
      ++at;
    } else if (c == 0xC2 && static_cast<unsigned char>(text[at + 1]) <= 0x9F) {
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned char>(text[at + 1]));
      shown += escape;
      at += n;
    } else {
      shown.append(text, at, n);
      at += n;
    }
  }
  return shown;
}
