#pragma once

#include <string>

#include "saver/platform/LumettaOptions.h"

// lumetta's settings file, for the hosts that give a hack no way to choose
// its package (MATE's screensaver runs a fixed command line). One setting
// a line, "name = value"; blank lines and lines starting with '#' are
// skipped. The names:
//   resources  the package: a folder holding vello.dat, or that file
//   renderer   auto, webgl or canvas
//   sound      yes or no
//   network    yes or no
// Values mean what the command-line options of the same names mean, and
// the command line wins over the file.

// $XDG_CONFIG_HOME/lumetta/lumetta.conf when XDG_CONFIG_HOME is set to an
// absolute path, else $HOME/.config/lumetta/lumetta.conf; empty when
// neither is known.
std::string SettingsFilePath();

// Reads the file at path into options. A file that does not exist changes
// nothing and is no error. A file that cannot be read, or with a line that
// is not a known setting with a good value: false, options unchanged and
// error saying which file and line and what is wrong.
bool ReadSettingsFile(const std::string& path, LumettaOptions& options, std::string& error);

// Sets one setting in the file at path from "name=value", keeping the
// file's other lines and making its folder when missing; an empty value
// removes the setting. A relative resources path is made absolute. The
// file is replaced whole (written beside it, then renamed). False with
// error when the assignment is bad or the file cannot be written.
bool WriteSetting(const std::string& path, const std::string& assignment, std::string& error);

// The folder that holds the package named by a resources value: the value
// itself, or its folder when it names the file vello.dat. False with error
// for a file of another name.
bool ResourceFolderOf(const std::string& resources, std::string& folder, std::string& error);
