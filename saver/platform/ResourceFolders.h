#pragma once

#include <string>

// Where lumetta finds what it shows. Installed, the program sits in
// <prefix>/bin and its files in <prefix>/share/lumetta, which is also its
// resource folder (system/ResourcePath.h); run from the build tree, the
// package is the build's demo and the player lies in the build's share
// folder.

// The folder holding vello.dat when --resources is not given.
std::string DefaultResources();

// The folder of the program's own files (the player under ruffle/, the
// configuration sheet's interface file): the resource folder when the
// player is installed there, else buildShareFolder.
std::string ShareFolder(const std::string& buildShareFolder);

// Where the extracted programs go: $TMPDIR when set and not empty, else
// "/tmp".
std::string UserTemporaryDirectory();
