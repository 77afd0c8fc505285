#include "system/SysStringHelper.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cwchar>
#include <utility>

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

std::wstring CSysStringHelper::Format(const wchar_t* format, ...) const {
  // vswprintf reports -1 both for "too small" and for an encoding error,
  // so growth stops at a bound.
  constexpr size_t kLimit = size_t(1) << 20;
  std::wstring buffer(256, L'\0');
  for (;;) {
    va_list args;
    va_start(args, format);
    const int length = std::vswprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    if (length >= 0 && static_cast<size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<size_t>(length));
      return buffer;
    }
    if (buffer.size() >= kLimit) return std::wstring();
    buffer.resize(buffer.size() * 2);
  }
}

int CSysStringHelper::ToInt(const std::wstring& text) const {
  const long value = std::wcstol(text.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

float CSysStringHelper::ToFloat(const std::wstring& text) const {
  const double value = std::wcstod(text.c_str(), nullptr);
  // Narrowing a double beyond the float range is undefined: say infinity.
  if (value > FLT_MAX) return HUGE_VALF;
  if (value < -FLT_MAX) return -HUGE_VALF;
  return static_cast<float>(value);
}

std::wstring CSysStringHelper::FromInt(int value) const {
  wchar_t buffer[32];
  const int length = std::swprintf(buffer, 32, L"%d", value);
  return std::wstring(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}

std::wstring CSysStringHelper::FromFloat(float value) const {
  // FLT_MAX with six decimals takes 46 characters.
  wchar_t buffer[64];
  const int length = std::swprintf(buffer, 64, L"%f", static_cast<double>(value));
  return std::wstring(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}

bool CSysStringHelper::SplitByDelimiter(const std::wstring& text, const std::wstring& delimiter,
                                        std::vector<std::wstring>& list, bool) const {
  if (delimiter.empty()) {
    list.push_back(text);
    return list.size() > 1;
  }
  size_t start = 0;
  for (;;) {
    const size_t found = text.find(delimiter, start);
    list.push_back(text.substr(start, found == std::wstring::npos ? std::wstring::npos : found - start));
    if (found == std::wstring::npos) break;
    start = found + delimiter.size();
  }
  return list.size() > 1;
}

bool CSysStringHelper::SplitByDelimiter(const std::wstring& text, wchar_t delimiter,
                                        std::vector<std::wstring>& list, bool reserved) const {
  const std::wstring delimiterText = delimiter == L'\0' ? std::wstring() : std::wstring(1, delimiter);
  return SplitByDelimiter(text, delimiterText, list, reserved);
}

std::wstring CSysStringHelper::Join(const std::vector<std::wstring>& list,
                                   const std::wstring& separator) const {
  std::wstring result;
  for (size_t i = 0; i < list.size(); ++i) {
    if (i > 0) result += separator;
    result += list[i];
  }
  return result;
}

void CSysStringHelper::Replace(std::wstring& text, const std::wstring& search,
                               const std::wstring& replacement) const {
  if (search.empty()) return;  // would match everywhere and never advance
  std::wstring result;
  size_t from = 0;
  for (size_t found; (found = text.find(search, from)) != std::wstring::npos;
       from = found + search.size()) {
    result.append(text, from, found - from);
    result += replacement;
  }
  result.append(text, from, std::wstring::npos);
  text = std::move(result);
}
