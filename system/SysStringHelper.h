#pragma once

#include <string>

// Process-wide helper for wide strings (32-bit units, one code point each).
// This unit holds the UTF-8 conversions; the other utilities join it later.
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

 private:
  CSysStringHelper() = default;
};
