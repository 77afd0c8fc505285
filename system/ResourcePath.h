#pragma once

#include <string>

// Where a program of ours finds its resources (vello.dat and the rest).
// One lookup serves CDirEnumerator::GetResourcePath and the lumetta
// program's default resource folder.

// The folder holding the running program: /proc/self/exe with its last
// component cut off. Empty when the link cannot be read.
std::string ProgramFolder();

// The resource folder for a program living in programFolder:
// - "<prefix>/bin"            -> "<prefix>/share/lumetta" (installed);
// - inside a CMake build tree -> "<build tree>/demo/resources", the build
//   tree being the nearest folder upwards holding CMakeCache.txt;
// - otherwise the program's own folder.
// Empty for an empty programFolder. Looks at the file system only to find
// CMakeCache.txt; the result need not exist.
std::string ResourceFolderFor(const std::string& programFolder);

// ResourceFolderFor(ProgramFolder()).
std::string ResourceFolder();
