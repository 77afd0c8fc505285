#pragma once

#include <string>

// Where lumetta finds what it shows. Installed, the program sits in
// <prefix>/bin and its files in <prefix>/share/lumetta, which is also its
// resource folder (system/ResourcePath.h); run from the build tree, the
// package is the build's demo and the player lies in the share folder the
// build lays out beside the program. Both are found from where the program
// is, so no path of the build tree is compiled into it.

// The folder holding vello.dat when --resources is not given.
std::string DefaultResources();

// The folder of the program's own files (the player under ruffle/, the
// configuration sheet's interface file) for a program living in
// programFolder: its resource folder when the player is installed there,
// else "<programFolder>/share" (the build's layout).
std::string ShareFolderFor(const std::string& programFolder);

// ShareFolderFor(ProgramFolder()).
std::string ShareFolder();

// Where the extracted programs go: $TMPDIR when set and not empty, else
// "/tmp".
std::string UserTemporaryDirectory();
