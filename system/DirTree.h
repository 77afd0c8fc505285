#pragma once

#include <functional>
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
// last component is "." or "..", and one that resolves to "/". The tree is
// walked through descriptors (openat, unlinkat), so a folder replaced by a
// link while it is being removed sends nothing outside the tree; one
// descriptor at a time, so no depth is too deep. True when the path is
// gone; false when it was refused, missing, or something in it could not
// be removed (the rest is still removed).
bool RemoveTree(const std::string& path);

// For tests: called with each folder's path (as given, then "/name" for
// each level) just before RemoveTree lists it; an empty hook for none.
void SetRemoveTreeListingHook(std::function<void(const std::string& folder)> hook);
