#include "system/System.h"

#include <cstdlib>

CSystem* CSystem::GetSingleton() {
  static CSystem instance;
  return &instance;
}

wchar_t* CSystem::CharStrToWideCharStr(const char* text) {
  if (text == nullptr) return nullptr;
  const size_t length = std::mbstowcs(nullptr, text, 0);
  if (length == static_cast<size_t>(-1)) return nullptr;
  wchar_t* wide = new wchar_t[length + 1];
  std::mbstowcs(wide, text, length + 1);
  wide[length] = L'\0';
  return wide;
}

char* CSystem::WideCharStrToCharStr(const wchar_t* text) {
  if (text == nullptr) return nullptr;
  const size_t length = std::wcstombs(nullptr, text, 0);
  if (length == static_cast<size_t>(-1)) return nullptr;
  char* narrow = new char[length + 1];
  std::wcstombs(narrow, text, length + 1);
  narrow[length] = '\0';
  return narrow;
}
