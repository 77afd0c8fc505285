#pragma once

#include <string>

// Why the package in the resource folder cannot be shown, in words a person
// can act on. Each function returns one sentence without a final full stop,
// naming the package path as given.

// The package failed to load. Looks at the file again to tell the cause:
// not found, a folder, no permission to read it, not a package of this
// format (its first integer is no package version 1 to 14, or it is shorter
// than one integer), or damaged. whereReadingStopped, the reader's account
// of where and why it stopped, ends the "damaged" sentence when not empty.
std::string PackageProblem(const std::string& packagePath, const std::string& whereReadingStopped);

// The package could not be opened; error is the system's error number.
std::string PackageOpenProblem(const std::string& packagePath, int error);

// The package loaded but holds no form to show.
std::string PackageWithoutFormProblem(const std::string& packagePath);

// The first form's main program could not be recovered from the package.
std::string MainProgramProblem(const std::string& packagePath);

// The package is there but is no regular file (a FIFO, a device, a socket).
std::string PackageNotAFileProblem(const std::string& packagePath);
