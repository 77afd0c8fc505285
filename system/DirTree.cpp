#include "system/DirTree.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

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

void RemoveEntry(const fs::path& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    for (const std::string& name : Children(path)) RemoveEntry(path / name);
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
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
  RemoveEntry(path);
}
