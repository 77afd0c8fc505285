#pragma once

#include <string>
#include <vector>

// Message-box flags: one icon value ORed with one type value.
// (Enumerators rather than macros, so that an assertion quotes their names.)
enum VELLO_MSGBOX_FLAGS : unsigned int {
  VELLO_MSGBOX_ICON_MASK = 0x00FF,
  VELLO_MSGBOX_ICON_QUESTION = 0x0001,
  VELLO_MSGBOX_ICON_ERROR = 0x0002,
  VELLO_MSGBOX_ICON_INFO = 0x0004,
  VELLO_MSGBOX_ICON_WARNING = 0x0008,
  VELLO_MSGBOX_TYPE_MASK = 0xFF00,
  VELLO_MSGBOX_TYPE_OK = 0x0100,
  VELLO_MSGBOX_TYPE_OKCANCEL = 0x0200,
  VELLO_MSGBOX_TYPE_RETRYCANCEL = 0x0400,
  VELLO_MSGBOX_TYPE_YESNO = 0x0800,
  VELLO_MSGBOX_TYPE_YESNOCANCEL = 0x1000,
  VELLO_MSGBOX_TYPE_ABORTIGNORE = 0x2000,
};

// Process-wide front for file-system work on wide-string paths, and the
// conversion between narrow strings in the current locale and wide strings.
//
// A path reaches the operating system in one of two byte forms:
// - UTF-8 (SetCWD, DeleteFile, MakeDir, CopyFile, FileExists, GetFileSize,
//   CopyDir, DeleteDir, FindFiles);
// - the current locale's form (DirExists, GetDirList).
// A path that has no such form (a lone surrogate, a U+0000, a character
// the locale lacks) is never cut short: the operation acts on nothing.
//
// Programs that use the locale conversions call setlocale(LC_ALL, "") at
// start, so that they follow the user's locale; without it the "C" locale
// holds and only ASCII converts.
//
// Nothing here throws, runs a shell or reports an error text.
class CSystem {
 public:
  static CSystem* GetSingleton();

  // A null argument gives null.
  // On success: a new zero-terminated wide string (mbstowcs in the current
  // locale), released by the caller with delete[].
  // On failure (a byte sequence the locale cannot decode): null.
  wchar_t* CharStrToWideCharStr(const char* text);
  // The inverse (wcstombs); null when a character has no form in the
  // current locale.
  char* WideCharStrToCharStr(const wchar_t* text);

  // True when stat succeeds: any existing object counts, not only a folder.
  bool DirExists(const std::wstring& path);
  // chdir; failures go unnoticed.
  void SetCWD(const std::wstring& path);
  // unlink; failures go unnoticed.
  void DeleteFile(const std::wstring& path);
  // One folder, mode 0750 less the umask, no parents; failures go unnoticed.
  void MakeDir(const std::wstring& path);

  // Appends the names (not paths) of the folder's subfolders, and of links
  // to folders, in the order the system gives them. "." and "..", entries
  // stat cannot read and names the locale cannot convert are left out.
  // Always true, also when the folder cannot be read.
  bool GetDirList(const std::wstring& dir, std::vector<std::wstring>& list);
  // "dir/*.ext" or "dir/ext": FindFiles(dir, ext, list). Without a "/" the
  // whole pattern is both the folder and the extension. "dir/*" matches
  // every entry below dir; "dir/" matches entries without an extension.
  bool GetFileList(const std::wstring& pattern, std::vector<std::wstring>& list);

  // Length of a regular file; -1 when it cannot be opened for reading, is
  // not a regular file or is longer than an int can tell.
  int GetFileSize(const std::wstring& path);
  // True when the object can be opened for reading (a folder can).
  // Never waits on a FIFO.
  bool FileExists(const std::wstring& path);

  // Copies the bytes in 2,048-byte chunks. The destination is created or
  // truncated only once the source is open, and never when both name the
  // same file. Failures go unnoticed.
  void CopyFile(const std::wstring& source, const std::wstring& destination);
  // Like `cp -r source destination`: when destination is an existing
  // folder the copy lands in destination/<last component of source>,
  // otherwise destination becomes the copy. Links are copied as links,
  // never followed; empty folders are copied; existing files are
  // overwritten and existing folders merged. Sockets, FIFOs and devices
  // are left out. A folder is never copied into itself. Failures go
  // unnoticed; the copy goes on past them.
  void CopyDir(const std::wstring& source, const std::wstring& destination);
  // Like `rm -r path`, and only when DirExists(path). Links are removed,
  // never followed. A path ending in "." or ".." and the root folder are
  // refused, as rm refuses them. Failures go unnoticed.
  void DeleteDir(const std::wstring& path);

  // The folder holding the running program (/proc/self/exe cut before its
  // last "/"), converted in the current locale; empty when unknown.
  std::wstring GetCWD() const;
  // Always "Test appname".
  std::wstring GetApplicationName();

  // Requires: flags holds one icon value (or none) and one type value;
  // anything else is a programming error. Shows nothing on this platform.
  void ShowMessageBox(const std::wstring& message, const std::wstring& title, unsigned int flags,
                      void* parent) const;

  // Empty operations: they do nothing.
  void GetDirSize(const std::wstring& path);
  void GetFileListRecursive(const std::wstring& path, std::vector<std::wstring>& list);
  void BrowseFolderPrompt(const std::wstring& path);

 private:
  CSystem() = default;
};

class CDirEnumerator {
 public:
  static CDirEnumerator* GetSingleton();

  // The program's resource folder (see ResourceFolder in
  // system/ResourcePath.h), decoded from UTF-8; empty when unknown.
  std::wstring GetResourcePath();

  // Appends the path, relative to dir, of every entry below dir (folders
  // and links included, links not followed) whose extension - the text
  // after the last "." of its name, or empty - equals ext, case-sensitive.
  // Subfolders that cannot be read are skipped; names that are not UTF-8
  // are left out. True when the list then holds at least one entry.
  bool FindFiles(const std::wstring& dir, const std::wstring& ext,
                 std::vector<std::wstring>& list);

 private:
  CDirEnumerator() = default;
};
