#pragma once

#include <string>

// Copying and removing directory trees with POSIX calls and
// std::filesystem (never a shell), as `cp -r` and `rm -r` would.
// Paths are the operating system's bytes. Nothing throws; a failure on
// one entry leaves it out and the work goes on with the next.

// `cp -r source destination`: the copy lands in destination/<last
// component of source> when destination is an existing folder (or a link
// to one), otherwise at destination. Links are copied as links; regular
// files by content, with their permission bits less the umask when new;
// folders are created or merged into. Sockets, FIFOs and devices are left
// out. Refuses to copy a folder into itself.
void CopyTree(const std::string& source, const std::string& destination);

// `rm -r path`: links are removed, never followed. Refuses a path whose
// last component is "." or "..", and one that resolves to "/".
void RemoveTree(const std::string& path);
