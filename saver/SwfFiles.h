#pragma once

#include <string>

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
};

struct SwfExtractionReport {
  std::string packagePath;
  bool loaded = false;  // the package read and holds a form
  SwfFileReport full;
  SwfFileReport preview;
  SwfFileReport settings;
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
// g_settings keeps its value. False, with nothing written and the paths
// untouched, when the package does not load or holds no form.
bool UnpackSwfs(const std::string& resourceDir, const std::string& tempDir,
                SwfExtractionReport* report = nullptr);

// Makes a unique file from the template (ending in six "X"), records its
// path in path and writes size bytes of data into it. When no file can be
// made, path becomes the template itself and nothing is written. True when
// the bytes were written.
bool WriteSwfFile(const std::string& pathTemplate, const unsigned char* data, int size,
                  std::string& path);

// Deletes the files named by g_full, g_preview and g_settings, in that
// order. Missing files (an empty path, a preview path that repeats the main
// one) are skipped silently; the paths keep their values.
void DeleteSwfFiles();
