#include "system/System.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "system/ResourcePath.h"
#include "system/TempDir_test.h"

namespace {

CSystem& System() { return *CSystem::GetSingleton(); }

// Switches the whole process locale for one test and puts the old one back.
struct ScopedLocale {
  explicit ScopedLocale(const char* name)
      : saved(std::setlocale(LC_ALL, nullptr)), ok(std::setlocale(LC_ALL, name) != nullptr) {}
  ~ScopedLocale() { std::setlocale(LC_ALL, saved.c_str()); }
  const std::string saved;
  const bool ok;
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
  ASSERT_TRUE(locale.ok);
  // é (2 bytes), € (3 bytes), U+1F600 (4 bytes), written as bytes by hand.
  const char* utf8 = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80";
  const std::wstring wide = L"caf\u00E9 \u20AC \U0001F600";
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

TEST(SystemLocale, CLocaleConvertsAsciiOnlyAndNullGivesNull) {
  ScopedLocale locale("C");
  ASSERT_TRUE(locale.ok);
  EXPECT_EQ(L"plain ASCII ~", Widen("plain ASCII ~"));
  EXPECT_EQ("plain ASCII ~", Narrow(L"plain ASCII ~"));
  EXPECT_EQ(L"<null>", Widen("caf\xC3\xA9"));
  EXPECT_EQ("<null>", Narrow(L"caf\u00E9"));
  EXPECT_EQ(nullptr, System().CharStrToWideCharStr(nullptr));
  EXPECT_EQ(nullptr, System().WideCharStrToCharStr(nullptr));
}

// Subfolders only, and of those only the names the locale can convert.
TEST(SystemFiles, GetDirListNamesConvertibleSubfoldersOnly) {
  ScopedLocale locale("C");
  ASSERT_TRUE(locale.ok);
  TempDir scratch;
  scratch.Write("a", {1});
  for (const char* name : {"c", "d", "caf\xC3\xA9"}) std::filesystem::create_directory(scratch.path() / name);
  std::vector<std::wstring> list = {L"earlier"};
  EXPECT_TRUE(System().GetDirList(scratch.path().wstring(), list));
  std::sort(list.begin() + 1, list.end());
  EXPECT_EQ((std::vector<std::wstring>{L"earlier", L"c", L"d"}), list);

  std::vector<std::wstring> missing;
  EXPECT_TRUE(System().GetDirList(scratch.WideFile("missing"), missing));
  EXPECT_TRUE(missing.empty());
}

TEST(SystemFiles, SizesAndExistence) {
  TempDir scratch;
  const std::wstring empty = scratch.Put("empty", {});
  const std::wstring full = scratch.Put("full", std::vector<unsigned char>(5000, 7));
  EXPECT_EQ(-1, System().GetFileSize(scratch.WideFile("missing")));
  EXPECT_EQ(0, System().GetFileSize(empty));
  EXPECT_EQ(5000, System().GetFileSize(full));
  EXPECT_EQ(-1, System().GetFileSize(scratch.path().wstring()));  // a folder has no length
  EXPECT_TRUE(System().DirExists(full));                      // any object counts
  EXPECT_TRUE(System().DirExists(scratch.path().wstring()));
  EXPECT_FALSE(System().DirExists(scratch.WideFile("missing")));
  EXPECT_TRUE(System().FileExists(empty));
  EXPECT_FALSE(System().FileExists(scratch.WideFile("missing")));
  EXPECT_EQ(L"Test appname", System().GetApplicationName());
}

TEST(SystemFiles, CopyFileCopiesAndNeverLosesTheDestination) {
  TempDir scratch;
  std::vector<unsigned char> bytes(5000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 31 + 7);
  const std::wstring source = scratch.Put("source", bytes);
  const std::wstring keep = scratch.Put("keep", {'o', 'l', 'd'});
  System().CopyFile(source, scratch.WideFile("copy"));
  EXPECT_EQ(bytes, TempDir::ReadAll(scratch.File("copy")));
  System().CopyFile(scratch.WideFile("missing"), keep);  // no source: no truncation
  EXPECT_EQ((std::vector<unsigned char>{'o', 'l', 'd'}), TempDir::ReadAll(scratch.File("keep")));
  System().CopyFile(source, source);  // same file: untouched
  EXPECT_EQ(bytes, TempDir::ReadAll(scratch.File("source")));
}

TEST(SystemFiles, PathsWithoutAByteFormActOnNothing) {
  TempDir scratch;
  const std::wstring keep = scratch.Put("keep", {1, 2});
  std::filesystem::create_directory(scratch.path() / "dir");
  // Cut at the surrogate or the U+0000, these would name "keep" and "dir".
  for (const wchar_t bad : {wchar_t(0xD800), wchar_t(0)}) {
    System().DeleteFile(keep + bad + L"x");
    System().CopyDir(scratch.WideFile("dir") + bad, scratch.WideFile("copy"));
    System().CopyFile(keep + bad, scratch.WideFile("copy2"));
    System().MakeDir(scratch.WideFile("new") + bad + L"x");
  }
  EXPECT_EQ(2, System().GetFileSize(keep));
  for (const char* made : {"copy", "copy2", "new"})
    EXPECT_FALSE(std::filesystem::exists(scratch.path() / made)) << made;
}

TEST(SystemFiles, MakeSetAndDeleteOneFolder) {
  TempDir scratch;
  const std::filesystem::path cwd = std::filesystem::current_path();
  System().MakeDir(scratch.WideFile("one"));
  System().MakeDir(scratch.WideFile("no/parents"));
  EXPECT_TRUE(std::filesystem::is_directory(scratch.path() / "one"));
  EXPECT_FALSE(std::filesystem::exists(scratch.path() / "no"));
  System().SetCWD(scratch.WideFile("one"));
  EXPECT_EQ(std::filesystem::canonical(scratch.path() / "one"), std::filesystem::current_path());
  std::filesystem::current_path(cwd);
  scratch.Write("one/f", {1});
  System().DeleteFile(scratch.WideFile("one/f"));
  EXPECT_FALSE(std::filesystem::exists(scratch.path() / "one" / "f"));
}

TEST(SystemPlaces, ProgramAndResourceFolders) {
  // This test program lives at the top of the build tree.
  const std::string build = std::filesystem::canonical(VELLO_BINARY_DIR).string();
  EXPECT_EQ(build, ProgramFolder());
  EXPECT_EQ(std::wstring(build.begin(), build.end()), System().GetCWD());
  const std::string resources = build + "/demo/resources";
  EXPECT_EQ(std::wstring(resources.begin(), resources.end()),
            CDirEnumerator::GetSingleton()->GetResourcePath());

  EXPECT_EQ("/opt/vello/share/lumetta", ResourceFolderFor("/opt/vello/bin"));
  TempDir tree;
  tree.Write("CMakeCache.txt", {});
  std::filesystem::create_directories(tree.path() / "saver" / "deep");
  EXPECT_EQ((tree.path() / "demo" / "resources").string(),
            ResourceFolderFor((tree.path() / "saver" / "deep").string()));
  TempDir elsewhere;
  EXPECT_EQ(elsewhere.path().string(), ResourceFolderFor(elsewhere.path().string()));
  EXPECT_EQ("", ResourceFolderFor(""));
}

}  // namespace
