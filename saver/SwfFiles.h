#pragma once

#include <string>

#include "saver/SaverGlobals.h"

class FileContent;

// The temporary files that carry the first form's programs to the web view:
// extraction from the package in the resource folder, and deletion. Paths
// are UTF-8; the results land in g_full, g_preview and g_settings.

// Program type codes of the view's pages.
enum SwfType : int {
  kSwfFull = 0,
  kSwfPreview = 1,
  kSwfSettings = 2,
};

// What one extraction did with one program, for hosts that report it.
struct SwfFileReport {
  bool unpacked = false;  // the form held the program and it was recovered
  bool written = false;   // its bytes reached a file made for it
  int size = 0;           // bytes recovered
  std::string path;       // what the matching g_ path holds afterwards
  std::string problem;    // why it was not written; empty when it was
};

struct SwfExtractionReport {
  std::string packagePath;
  bool loaded = false;  // the package read and holds a form
  SwfFileReport full;
  SwfFileReport preview;
  SwfFileReport settings;
  // Why the programs cannot be shown (the package's problem or the first
  // program that could not be written), for a person; empty on success.
  std::string problem;
};

// Name of the package file, appended to the resource folder.
inline constexpr const char kPackageFileName[] = "/vello.dat";

// File-name templates; "%@" stands for the temporary directory.
inline constexpr const char kFullTemplate[] = "%@/ssftemp.XXXXXX";
inline constexpr const char kPreviewTemplate[] = "%@/ssptemp.XXXXXX";
inline constexpr const char kSettingsTemplate[] = "%@/ssstemp.XXXXXX";

// The resource folder joined with the package file name, one separator
// between them.
std::string PackagePath(const std::string& resourceDir);

// format with each "%@" replaced by value.
std::string FormatTemplate(const char* format, const std::string& value);

// Loads the package, takes its first form and writes its main, preview and
// settings programs to new files made from the templates. A form without a
// preview shows its main program there; without a settings program
// g_settings keeps its value.
// The package is opened by the path's bytes, and only when it is a regular
// file (a FIFO or a device is refused before anything is read); the main
// program streams from it into its file.
// True when the package loaded and every program it holds was written.
// False, with nothing written and the paths untouched, when the package does
// not load or holds no form. False as well when a program cannot be
// recovered or written: that program's path is then empty, the others are
// written as usual. report->problem says why.
bool UnpackSwfs(const std::string& resourceDir, const std::string& tempDir,
                SwfExtractionReport* report = nullptr);

// Makes a unique file (mode 0600) from the template (ending in six "X") and
// writes size bytes of data into it through the descriptor it was made
// with, so the name is never opened again.
// On success path names the complete file.
// On failure path is empty, no file is left behind (a partly written one is
// removed) and error holds the system's error number.
// The descriptor stays open, recorded with the path, until the file is
// deleted (ReadMadeSwfFile).
bool WriteSwfFile(const std::string& pathTemplate, const unsigned char* data, int size,
                  std::string& path, int& error);
// The same for content that may come from the package file; when its bytes
// cannot be read from there, contentUnread (if given) is set as well.
bool WriteSwfFile(const std::string& pathTemplate, const FileContent& content, std::string& path,
                  int& error, bool* contentUnread = nullptr);

// Everything the regular file open on fd holds, in one read of the size it
// has; null when it is no regular file or cannot be read.
SwfData ReadWholeFile(int fd);

// What the file this process made under that path holds, read through the
// descriptor it was written with (whatever the name now leads to); null
// when no file of ours has that path or it cannot be read.
SwfData ReadMadeSwfFile(const std::string& path);

// Removes the names of every file this process made, keeping the files
// themselves open for ReadMadeSwfFile: for a host that reads its programs
// through the descriptors only, so that nothing is left in the temporary
// folder however the process ends (SIGKILL, the out-of-memory killer).
// The deletions below then leave those names alone: by then they may be
// someone else's.
void RemoveMadeSwfFileNames();

// Deletes every file this process made and has not deleted yet, also those
// whose paths a later extraction replaced: for the ways out of the process.
void DeleteMadeSwfFiles();

// Deletes the files named by g_full, g_preview and g_settings, in that
// order. Missing files (an empty path, a preview path that repeats the main
// one) are skipped silently; the paths keep their values.
void DeleteSwfFiles();
