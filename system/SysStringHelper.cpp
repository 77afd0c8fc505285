#include "system/SysStringHelper.h"

#include <cstddef>

#include "system/ConvertUTF.h"

static_assert(sizeof(wchar_t) == sizeof(UTF32), "wide strings hold one code point per unit");

namespace {

// Conversions run through fixed stack chunks: no allocation per character,
// and the result string grows only by what was converted.
constexpr size_t kChunk = 256;

bool AppendUTF8(const std::wstring& text, std::string& out) {
  UTF32 source[kChunk];
  UTF8 target[kChunk * 4];
  out.reserve(out.size() + text.size());  // at least one byte per character kept
  size_t next = 0;
  while (next < text.size()) {
    size_t count = 0;
    for (; next < text.size() && count < kChunk; ++next) {
      const UTF32 ch = static_cast<UTF32>(text[next]);
      if (ch != 0) source[count++] = ch;  // U+0000 adds no bytes
    }
    const UTF32* from = source;
    UTF8* to = target;
    const ConversionResult result =
        ConvertUTF32toUTF8(&from, source + count, &to, target + sizeof(target), strictConversion);
    // On failure `to` stops after the last character converted.
    out.append(reinterpret_cast<const char*>(target), static_cast<size_t>(to - target));
    if (result != conversionOK) return false;
  }
  return true;
}

}  // namespace

CSysStringHelper& CSysStringHelper::GetSingleton() {
  static CSysStringHelper instance;
  return instance;
}

std::string CSysStringHelper::ToUTF8(const std::wstring& text) const {
  std::string out;
  AppendUTF8(text, out);
  return out;
}

bool CSysStringHelper::NativeToUTF8(const std::wstring& text, std::string& out) const {
  return AppendUTF8(text, out);
}

std::wstring CSysStringHelper::FromUTF8(const std::string& text) const {
  std::wstring out;
  out.reserve(text.size());  // never more characters than bytes
  const UTF8* from = reinterpret_cast<const UTF8*>(text.data());
  const UTF8* const end = from + text.size();
  UTF32 target[kChunk];
  for (;;) {
    UTF32* to = target;
    // Stops, with `from` left before it, at an illegal sequence or one cut
    // short by the end of the input; both end the text.
    const ConversionResult result = ConvertUTF8toUTF32(&from, end, &to, target + kChunk,
                                                       strictConversion);
    for (const UTF32* p = target; p != to; ++p)
      if (*p != 0) out.push_back(static_cast<wchar_t>(*p));  // U+0000 adds nothing
    if (result != targetExhausted) break;
  }
  return out;
}

bool CSysStringHelper::UTF8ToNative(const std::string& text, std::wstring& out) const {
  out = FromUTF8(text);
  return true;
}
