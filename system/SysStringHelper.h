#pragma once

#include <string>
#include <vector>

// Process-wide helper for wide strings (32-bit units, one code point each).
// Lists are appended to, never cleared.
class CSysStringHelper {
 public:
  static CSysStringHelper& GetSingleton();

  // UTF-8 of the text, stopping before the first unconvertible character
  // (a surrogate or a value above U+10FFFF). U+0000 adds no bytes.
  std::string ToUTF8(const std::wstring& text) const;
  // Appends to out; false at the first unconvertible character.
  bool NativeToUTF8(const std::wstring& text, std::string& out) const;
  // Decoded text up to the first illegal or incomplete sequence.
  std::wstring FromUTF8(const std::string& text) const;
  bool UTF8ToNative(const std::string& text, std::wstring& out) const;

  // printf-style formatting (vswprintf) into a buffer that grows until the
  // text fits. Empty when the arguments cannot be formatted or the text
  // would pass a million characters: never a cut-off text.
  std::wstring Format(const wchar_t* format, ...) const;

  // wcstol in base 10: leading white space, optional sign, digits up to the
  // first other character; 0 without digits. Values past the int range give
  // INT_MAX or INT_MIN.
  int ToInt(const std::wstring& text) const;
  // wcstod narrowed to float; 0 when the text does not start with a number,
  // infinity past the float range.
  float ToFloat(const std::wstring& text) const;
  // "%d", and "%f" of the value widened to double (1.5 gives 1.500000).
  std::wstring FromInt(int value) const;
  std::wstring FromFloat(float value) const;

  // Appends the pieces of text between non-overlapping occurrences of
  // delimiter, taken from the left: n occurrences give n + 1 pieces, empty
  // ones included. An empty delimiter gives the whole text as one piece.
  // True when the list then holds more than one entry (earlier ones count).
  // The bool has no effect.
  bool SplitByDelimiter(const std::wstring& text, const std::wstring& delimiter,
                        std::vector<std::wstring>& list, bool reserved) const;
  // The same with a one-character delimiter; the character 0 makes it empty.
  bool SplitByDelimiter(const std::wstring& text, wchar_t delimiter,
                        std::vector<std::wstring>& list, bool reserved) const;
  // The entries in order with separator between neighbours.
  std::wstring Join(const std::vector<std::wstring>& list, const std::wstring& separator) const;
  // Replaces every occurrence of search, taken from the left without
  // overlap; the replacement is never searched again. An empty search
  // leaves the text unchanged.
  void Replace(std::wstring& text, const std::wstring& search,
               const std::wstring& replacement) const;

 private:
  CSysStringHelper() = default;
};
