#include "system/DirTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "system/UniqueFd.h"

namespace fs = std::filesystem;

namespace {

// The last component of a path as `cp` and `rm` see it: trailing slashes
// do not count.
std::string LastComponent(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Names in a folder, read in full before anything in it changes.
std::vector<std::string> Children(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  return names;
}

bool IsFolder(const fs::path& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void CopyEntry(const fs::path& from, const fs::path& to) {
  struct stat source;
  if (lstat(from.c_str(), &source) != 0) return;
  struct stat existing;
  const bool exists = lstat(to.c_str(), &existing) == 0;
  std::error_code ec;
  if (S_ISLNK(source.st_mode)) {
    if (exists && S_ISDIR(existing.st_mode)) return;  // no link over a folder
    const fs::path target = fs::read_symlink(from, ec);
    if (ec) return;
    if (exists) unlink(to.c_str());
    fs::create_symlink(target, to, ec);
  } else if (S_ISDIR(source.st_mode)) {
    if (!exists) {
      if (mkdir(to.c_str(), source.st_mode & 07777) != 0) return;
    } else if (!IsFolder(to)) {
      return;  // no folder over a file
    }
    for (const std::string& name : Children(from)) CopyEntry(from / name, to / name);
  } else if (S_ISREG(source.st_mode)) {
    if (exists && IsFolder(to)) return;  // no file over a folder
    // A dangling link is not written through: it would create a file
    // outside the destination tree.
    if (exists && S_ISLNK(existing.st_mode) && !fs::exists(to, ec)) return;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  }
}

// Whether inner is outer or lies below it, after resolving links.
bool Inside(const fs::path& inner, const fs::path& outer) {
  std::error_code ec;
  const fs::path a = fs::weakly_canonical(inner, ec);
  if (ec) return true;  // cannot tell: act as if it were
  const fs::path b = fs::weakly_canonical(outer, ec);
  if (ec) return true;
  return std::mismatch(b.begin(), b.end(), a.begin(), a.end()).first == b.end();
}

std::function<void(const std::string&)>& ListingHook() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

// Names in the folder open at fd, read in full before anything in it changes.
std::vector<std::string> Children(int fd) {
  std::vector<std::string> names;
  const int listing = dup(fd);
  if (listing < 0) return names;
  DIR* dir = fdopendir(listing);
  if (dir == nullptr) {
    close(listing);
    return names;
  }
  while (const dirent* entry = readdir(dir))
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      names.emplace_back(entry->d_name);
  closedir(dir);
  return names;
}

// Removes name in the folder open at parent. A folder is entered through a
// descriptor opened without following links, and everything below it is
// removed relative to that descriptor: a folder swapped for a link at any
// moment is never followed out of the tree (the link itself goes).
void RemoveEntry(int parent, const std::string& name, const std::string& shown) {
  struct stat st;
  if (fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    unlinkat(parent, name.c_str(), 0);
    return;
  }
  {
    const UniqueFd folder(openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.get() < 0) {
      // No longer a folder (swapped for a link or a file meanwhile).
      if (errno == ENOTDIR || errno == ELOOP) unlinkat(parent, name.c_str(), 0);
      return;
    }
    if (ListingHook()) ListingHook()(shown);
    for (const std::string& child : Children(folder.get())) RemoveEntry(folder.get(), child, shown + "/" + child);
  }
  unlinkat(parent, name.c_str(), AT_REMOVEDIR);
}

}  // namespace

void CopyTree(const std::string& source, const std::string& destination) {
  if (source.empty() || destination.empty()) return;
  fs::path to(destination);
  if (IsFolder(to)) to /= LastComponent(source);
  struct stat st;
  if (lstat(source.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode) && Inside(to, source)) return;
  CopyEntry(source, to);
}

void RemoveTree(const std::string& path) {
  if (path.empty()) return;
  const std::string last = LastComponent(path);
  if (last == "." || last == "..") return;
  std::error_code ec;
  const fs::path resolved = fs::weakly_canonical(path, ec);
  if (ec || resolved == resolved.root_path()) return;
  // The folder that holds the last component, reached as rm -r reaches it
  // (links on the way followed); below it nothing is.
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const size_t slash = trimmed.rfind('/');
  const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : trimmed.substr(0, slash);
  const UniqueFd folder(open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() >= 0) RemoveEntry(folder.get(), last, trimmed);
}

void SetRemoveTreeListingHook(std::function<void(const std::string& folder)> hook) {
  ListingHook() = std::move(hook);
}
