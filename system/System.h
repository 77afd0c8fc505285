#pragma once

// Process-wide front for file-system work on wide-string paths, and the
// conversion between narrow strings in the current locale and wide strings.
//
// Programs that use the locale conversions call setlocale(LC_ALL, "") at
// start, so that they follow the user's locale; without it the "C" locale
// holds and only ASCII converts.
class CSystem {
 public:
  static CSystem* GetSingleton();

  // Requires nothing; a null argument gives null.
  // On success: a new zero-terminated wide string (mbstowcs in the current
  // locale), released by the caller with delete[].
  // On failure (a byte sequence the locale cannot decode): null.
  wchar_t* CharStrToWideCharStr(const char* text);
  // The inverse (wcstombs); null when a character has no form in the
  // current locale.
  char* WideCharStrToCharStr(const wchar_t* text);

 private:
  CSystem() = default;
};
