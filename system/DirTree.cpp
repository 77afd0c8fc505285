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

// One folder on the way down while a tree is removed: who it is (to
// recognise it again from below), its name in its parent, and the names
// still to remove in it, listed once when it was entered.
struct Level {
  dev_t device;
  ino_t inode;
  std::string name;
  std::string shown;
  std::vector<std::string> pending;
};

// Enters the folder name in the folder open at parent without following a
// link. -1 when it is no folder any more: a link or file swapped in is
// then removed itself.
int EnterFolder(int parent, const std::string& name, bool& ok) {
  const int fd = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) return fd;
  if (errno == ENOTDIR || errno == ELOOP) {
    if (unlinkat(parent, name.c_str(), 0) != 0) ok = false;
  } else {
    ok = false;
  }
  return -1;
}

// Removes name in the folder open at parent, a folder at a time. Only the
// folder being emptied is held open, however deep the tree: the way back
// up is "..", checked to be the very folder that was entered, so a tree
// moved or swapped meanwhile is left rather than followed out of. Each
// folder is entered without following links and listed once; a folder
// swapped for a link at any moment sends nothing outside the tree (the
// link itself goes).
bool RemoveEntry(int parent, const std::string& name, const std::string& shown) {
  struct stat st;
  if (fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (!S_ISDIR(st.st_mode)) return unlinkat(parent, name.c_str(), 0) == 0;
  bool ok = true;
  UniqueFd current(EnterFolder(parent, name, ok));
  if (current.get() < 0) return ok && fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0;
  if (fstat(current.get(), &st) != 0) return false;
  std::vector<Level> levels;
  const auto enter = [&](const struct stat& folder, const std::string& entry, const std::string& path) {
    if (ListingHook()) ListingHook()(path);
    levels.push_back({folder.st_dev, folder.st_ino, entry, path, Children(current.get())});
  };
  enter(st, name, shown);
  while (true) {
    Level& level = levels.back();
    if (!level.pending.empty()) {
      const std::string child = std::move(level.pending.back());
      level.pending.pop_back();
      struct stat entry;
      if (fstatat(current.get(), child.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone already
      if (!S_ISDIR(entry.st_mode)) {
        if (unlinkat(current.get(), child.c_str(), 0) != 0) ok = false;
        continue;
      }
      const int inner = EnterFolder(current.get(), child, ok);
      if (inner < 0) continue;
      const std::string path = level.shown + "/" + child;
      current.reset(inner);
      if (fstat(current.get(), &entry) != 0) return false;
      enter(entry, child, path);
      continue;
    }
    // Emptied as far as it goes: back to its parent, and remove it there.
    const std::string emptied = level.name;
    levels.pop_back();
    if (levels.empty()) break;
    const int up = openat(current.get(), "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat above;
    if (up < 0 || fstat(up, &above) != 0 || above.st_dev != levels.back().device ||
        above.st_ino != levels.back().inode) {
      if (up >= 0) close(up);
      return false;  // moved meanwhile: not followed
    }
    current.reset(up);
    if (unlinkat(current.get(), emptied.c_str(), AT_REMOVEDIR) != 0) ok = false;
  }
  current.reset(-1);
  return unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0 && ok;
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

bool RemoveTree(const std::string& path) {
  if (path.empty()) return false;
  const std::string last = LastComponent(path);
  if (last == "." || last == "..") return false;
  std::error_code ec;
  const fs::path resolved = fs::weakly_canonical(path, ec);
  if (ec || resolved == resolved.root_path()) return false;
  // The folder that holds the last component, reached as rm -r reaches it
  // (links on the way followed); below it nothing is.
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const size_t slash = trimmed.rfind('/');
  const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : trimmed.substr(0, slash);
  const UniqueFd folder(open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return folder.get() >= 0 && RemoveEntry(folder.get(), last, trimmed);
}

void SetRemoveTreeListingHook(std::function<void(const std::string& folder)> hook) {
  ListingHook() = std::move(hook);
}
