#pragma once

#include <string>

// Where lumetta finds what it shows. Installed, the program sits in
// <prefix>/bin and its files in <prefix>/share/lumetta; run from the build
// tree, it uses the build's demo package and player.

// The folder holding vello.dat when --resources is not given.
std::string DefaultResources();

// The folder of the program's own files (the player under ruffle/, the
// configuration sheet's interface file); buildShareFolder when the program
// is not installed.
std::string ShareFolder(const std::string& buildShareFolder);
