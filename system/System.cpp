#include "system/System.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "system/Assert.h"
#include "system/DirTree.h"
#include "system/DirWalk.h"
#include "system/ResourcePath.h"
#include "system/SysStringHelper.h"

namespace {

// The UTF-8 bytes of a path, or false when it has none that names the same
// thing: a lone surrogate would cut it short and a U+0000 would end it
// early, and a shorter path may name a parent folder.
bool Utf8Path(const std::wstring& path, std::string& bytes) {
  if (path.find(L'\0') != std::wstring::npos) return false;
  bytes.clear();
  return CSysStringHelper::GetSingleton().NativeToUTF8(path, bytes);
}

// The path in the current locale's form, or false when it has none.
bool LocalePath(const std::wstring& path, std::string& bytes) {
  if (path.find(L'\0') != std::wstring::npos) return false;
  std::unique_ptr<char[]> narrow(CSystem::GetSingleton()->WideCharStrToCharStr(path.c_str()));
  if (!narrow) return false;
  bytes = narrow.get();
  return true;
}

// The subfolders of a folder given in the locale's form. Paths of any
// length are built whole.
void scanDir(std::string dir, std::vector<std::wstring>& list) {
  if (dir.empty()) return;
  if (dir.back() != '/') dir += '/';
  DIR* folder = opendir(dir.c_str());
  if (folder == nullptr) return;
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (stat((dir + name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    std::unique_ptr<wchar_t[]> wide(CSystem::GetSingleton()->CharStrToWideCharStr(name.c_str()));
    if (wide) list.emplace_back(wide.get());
  }
  closedir(folder);
}

// Opens for reading without waiting on a FIFO; -1 on failure.
int OpenForReading(const std::wstring& path) {
  std::string bytes;
  if (!Utf8Path(path, bytes)) return -1;
  return open(bytes.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

struct FileCloser {
  void operator()(FILE* fp) const { std::fclose(fp); }
};
using File = std::unique_ptr<FILE, FileCloser>;

}  // namespace

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

bool CSystem::DirExists(const std::wstring& path) {
  std::string bytes;
  struct stat st;
  return LocalePath(path, bytes) && stat(bytes.c_str(), &st) == 0;
}

void CSystem::SetCWD(const std::wstring& path) {
  std::string bytes;
  if (Utf8Path(path, bytes) && chdir(bytes.c_str()) != 0) {
    // Failure goes unnoticed by design.
  }
}

void CSystem::DeleteFile(const std::wstring& path) {
  std::string bytes;
  if (Utf8Path(path, bytes)) unlink(bytes.c_str());
}

void CSystem::MakeDir(const std::wstring& path) {
  std::string bytes;
  if (Utf8Path(path, bytes)) mkdir(bytes.c_str(), 0750);
}

bool CSystem::GetDirList(const std::wstring& dir, std::vector<std::wstring>& list) {
  std::string bytes;
  if (LocalePath(dir, bytes)) scanDir(bytes, list);
  return true;
}

bool CSystem::GetFileList(const std::wstring& pattern, std::vector<std::wstring>& list) {
  const size_t slash = pattern.rfind(L'/');
  const std::wstring dir = slash == std::wstring::npos ? pattern : pattern.substr(0, slash);
  std::wstring ext = slash == std::wstring::npos ? pattern : pattern.substr(slash + 1);
  if (ext.rfind(L"*.", 0) == 0) ext.erase(0, 2);
  if (ext == L"*") {
    std::string folder;
    if (!Utf8Path(dir, folder)) return !list.empty();
    return AppendEntriesBelow(folder, [](const std::string&) { return true; }, list);
  }
  return CDirEnumerator::GetSingleton()->FindFiles(dir, ext, list);
}

int CSystem::GetFileSize(const std::wstring& path) {
  const int fd = OpenForReading(path);
  if (fd < 0) return -1;
  struct stat st;
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  close(fd);
  if (!regular || st.st_size > INT_MAX) return -1;
  return static_cast<int>(st.st_size);
}

bool CSystem::FileExists(const std::wstring& path) {
  const int fd = OpenForReading(path);
  if (fd < 0) return false;
  close(fd);
  return true;
}

void CSystem::CopyFile(const std::wstring& source, const std::wstring& destination) {
  std::string from, to;
  if (!Utf8Path(source, from) || !Utf8Path(destination, to)) return;
  File in(std::fopen(from.c_str(), "rb"));
  if (!in) return;
  // Opening the source as its own destination would truncate it.
  struct stat a, b;
  if (stat(to.c_str(), &b) == 0 && fstat(fileno(in.get()), &a) == 0 && a.st_dev == b.st_dev &&
      a.st_ino == b.st_ino)
    return;
  File out(std::fopen(to.c_str(), "wb"));
  if (!out) return;
  unsigned char buffer[2048];
  for (;;) {
    const size_t count = std::fread(buffer, 1, sizeof(buffer), in.get());
    if (count == 0) break;
    std::fwrite(buffer, 1, count, out.get());
  }
}

void CSystem::CopyDir(const std::wstring& source, const std::wstring& destination) {
  std::string from, to;
  if (Utf8Path(source, from) && Utf8Path(destination, to)) CopyTree(from, to);
}

void CSystem::DeleteDir(const std::wstring& path) {
  std::string bytes;
  if (DirExists(path) && Utf8Path(path, bytes)) RemoveTree(bytes);
}

std::wstring CSystem::GetCWD() const {
  const std::string folder = ProgramFolder();
  std::unique_ptr<wchar_t[]> wide(GetSingleton()->CharStrToWideCharStr(folder.c_str()));
  return wide ? std::wstring(wide.get()) : std::wstring();
}

std::wstring CSystem::GetApplicationName() { return L"Test appname"; }

void CSystem::ShowMessageBox(const std::wstring&, const std::wstring&, unsigned int flags,
                             void*) const {
  // The spacing inside the conditions is what the assertion reports.
  VELLO_ASSERT( ( ( flags & VELLO_MSGBOX_ICON_MASK ) == VELLO_MSGBOX_ICON_QUESTION ) || ( ( flags & VELLO_MSGBOX_ICON_MASK ) == VELLO_MSGBOX_ICON_ERROR ) || ( ( flags & VELLO_MSGBOX_ICON_MASK ) == VELLO_MSGBOX_ICON_INFO ) || ( ( flags & VELLO_MSGBOX_ICON_MASK ) == VELLO_MSGBOX_ICON_WARNING ) || ( ( flags & VELLO_MSGBOX_ICON_MASK ) == 0 ) );  // NOLINT
  VELLO_ASSERT( ( ( flags & VELLO_MSGBOX_TYPE_MASK ) == VELLO_MSGBOX_TYPE_OK ) || ( ( flags & VELLO_MSGBOX_TYPE_MASK ) == VELLO_MSGBOX_TYPE_OKCANCEL ) || ( ( flags & VELLO_MSGBOX_TYPE_MASK ) == VELLO_MSGBOX_TYPE_RETRYCANCEL ) || ( ( flags & VELLO_MSGBOX_TYPE_MASK ) == VELLO_MSGBOX_TYPE_YESNO ) || ( ( flags & VELLO_MSGBOX_TYPE_MASK ) == VELLO_MSGBOX_TYPE_YESNOCANCEL ) || ( ( flags & VELLO_MSGBOX_TYPE_MASK ) == VELLO_MSGBOX_TYPE_ABORTIGNORE ) );  // NOLINT
}

void CSystem::GetDirSize(const std::wstring&) {}
void CSystem::GetFileListRecursive(const std::wstring&, std::vector<std::wstring>&) {}
void CSystem::BrowseFolderPrompt(const std::wstring&) {}
