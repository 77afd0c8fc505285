#include "system/System.h"

#include <gtest/gtest.h>

#include <clocale>
#include <memory>
#include <string>

namespace {

CSystem& System() { return *CSystem::GetSingleton(); }

// Switches the whole process locale for one test and puts the old one back.
class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name) : m_saved(std::setlocale(LC_ALL, nullptr)) {
    m_ok = std::setlocale(LC_ALL, name) != nullptr;
  }
  ~ScopedLocale() { std::setlocale(LC_ALL, m_saved.c_str()); }
  bool ok() const { return m_ok; }

 private:
  std::string m_saved;
  bool m_ok = false;
};

std::wstring Widen(const char* text) {
  std::unique_ptr<wchar_t[]> wide(System().CharStrToWideCharStr(text));
  return wide ? std::wstring(wide.get()) : L"<null>";
}

std::string Narrow(const wchar_t* text) {
  std::unique_ptr<char[]> narrow(System().WideCharStrToCharStr(text));
  return narrow ? std::string(narrow.get()) : "<null>";
}

TEST(SystemLocale, Utf8LocaleConvertsEveryPlaneBothWays) {
  ScopedLocale locale("C.UTF-8");
  ASSERT_TRUE(locale.ok());
  // é (2 bytes), € (3 bytes), U+1F600 (4 bytes), written as bytes by hand.
  const char* utf8 = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80";
  const std::wstring wide = {L'c', L'a', L'f', wchar_t(0xE9), L' ', wchar_t(0x20AC), L' ',
                             wchar_t(0x1F600)};
  EXPECT_EQ(wide, Widen(utf8));
  EXPECT_EQ(utf8, Narrow(wide.c_str()));
  EXPECT_EQ(L"", Widen(""));
  EXPECT_EQ("", Narrow(L""));
  // A cut sequence and a stray continuation byte cannot be decoded.
  EXPECT_EQ(L"<null>", Widen("ab\xC3"));
  EXPECT_EQ(L"<null>", Widen("\x80"));
  // A lone surrogate has no UTF-8 form.
  const wchar_t surrogate[] = {L'a', wchar_t(0xD800), 0};
  EXPECT_EQ("<null>", Narrow(surrogate));
}

TEST(SystemLocale, CLocaleConvertsAsciiOnly) {
  ScopedLocale locale("C");
  ASSERT_TRUE(locale.ok());
  EXPECT_EQ(L"plain ASCII ~", Widen("plain ASCII ~"));
  EXPECT_EQ("plain ASCII ~", Narrow(L"plain ASCII ~"));
  EXPECT_EQ(L"<null>", Widen("caf\xC3\xA9"));
  const wchar_t accented[] = {L'c', L'a', L'f', wchar_t(0xE9), 0};
  EXPECT_EQ("<null>", Narrow(accented));
}

TEST(SystemLocale, NullGivesNull) {
  EXPECT_EQ(nullptr, System().CharStrToWideCharStr(nullptr));
  EXPECT_EQ(nullptr, System().WideCharStrToCharStr(nullptr));
}

}  // namespace
