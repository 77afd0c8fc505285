#include "tools/vello/OutputFolder.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <sstream>

#include "system/SignalsBlocked.h"
#include "system/UniqueFd.h"
#include "tools/vello/Progress.h"
#include "tools/vello/ToolError.h"

namespace {

// The name's components, or an empty list when the name is unsafe as text.
std::vector<std::string> Components(const std::string& name, std::string& why) {
  std::vector<std::string> parts;
  if (name.empty()) {
    why = "the name is empty";
    return {};
  }
  if (name.front() == '/') {
    why = "the name is absolute";
    return {};
  }
  std::stringstream in(name);
  std::string part;
  while (std::getline(in, part, '/')) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      why = "the name climbs out of the folder through \"..\"";
      return {};
    }
    parts.push_back(part);
  }
  if (parts.empty()) why = "the name holds no file name";
  return parts;
}

std::string Joined(const std::vector<std::string>& parts, size_t count) {
  std::string path;
  for (size_t i = 0; i < count; ++i) path += (i > 0 ? "/" : "") + parts[i];
  return path;
}

// A fresh name for a temporary file; hidden, and short enough for any
// folder whatever the length of the name it stands for.
std::string TemporaryName() {
  static std::mt19937_64 random{std::random_device{}()};
  char name[32];
  std::snprintf(name, sizeof name, ".vello-%016llx", static_cast<unsigned long long>(random()));
  return name;
}

// Puts from onto to in dir, over an old file only when replace is set.
bool Place(int dir, const std::string& from, const std::string& to, bool replace) {
  if (replace) return renameat(dir, from.c_str(), dir, to.c_str()) == 0;
  if (renameat2(dir, from.c_str(), dir, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL) return false;
  // A file system without RENAME_NOREPLACE: a link refuses to replace too.
  if (linkat(dir, from.c_str(), dir, to.c_str(), 0) != 0) return false;
  unlinkat(dir, from.c_str(), 0);
  return true;
}

// Every OutputFolder alive, for RemovePendingFiles. What a handler reads
// is changed only while signals are blocked.
OutputFolder* g_alive = nullptr;

}  // namespace

void OutputFolder::RemovePendingFiles() {
  for (const OutputFolder* folder = g_alive; folder != nullptr; folder = folder->m_next) {
    for (auto it = folder->m_staged.rbegin(); it != folder->m_staged.rend(); ++it) {
      if (it->placed && it->replaced) continue;
      unlink(it->placed ? it->targetPath.c_str() : it->temporaryPath.c_str());
    }
    for (auto it = folder->m_madeFolderPaths.rbegin(); it != folder->m_madeFolderPaths.rend(); ++it)
      rmdir(it->c_str());
    for (auto it = folder->m_outerFolders.rbegin(); it != folder->m_outerFolders.rend(); ++it) rmdir(it->c_str());
  }
}

std::string OutputFolder::NameRefusal(const std::string& name) {
  std::string why;
  Components(name, why);
  return why;
}

std::string OutputFolder::Collision(const std::vector<std::string>& names) {
  std::map<std::string, const std::string*> files;  // joined components to the name
  for (const std::string& name : names) {
    std::string why;
    const std::vector<std::string> parts = Components(name, why);
    if (parts.empty()) continue;
    const auto [at, fresh] = files.emplace(Joined(parts, parts.size()), &name);
    if (!fresh) return "\"" + *at->second + "\" and \"" + name + "\" name the same file";
  }
  for (const auto& [path, name] : files) {
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
      const auto folder = files.find(path.substr(0, slash));
      if (folder != files.end())
        return "\"" + *folder->second + "\" is a file, but \"" + *name + "\" needs it to be a folder";
    }
  }
  return "";
}

OutputFolder::OutputFolder(std::string folder, bool force) : m_folder(std::move(folder)), m_force(force) {
  // The first folder missing on the way is the one to remove again: made
  // one at a time, each listed as it is made.
  std::vector<std::filesystem::path> missing;
  for (std::filesystem::path at = m_folder; !at.empty(); at = at.parent_path()) {
    struct stat st;
    if (lstat(at.c_str(), &st) == 0) break;
    missing.push_back(at);
    if (at == at.parent_path()) break;
  }
  {
    const SignalsBlocked blocked;
    m_next = g_alive;
    g_alive = this;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    const SignalsBlocked blocked;
    if (mkdir(it->c_str(), 0777) == 0) {
      m_outerFolders.push_back(it->string());
    } else if (errno != EEXIST) {
      const std::string why = LastSystemError();
      Discard();
      Unlist();
      throw ToolError(kExitFaults, it->string() + ": cannot make the folder: " + why);
    }
  }
  struct stat st;
  if (stat(m_folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    Discard();
    Unlist();
    throw ToolError(kExitFaults, m_folder + ": cannot make the folder: it is not a folder");
  }
}

OutputFolder::~OutputFolder() {
  Discard();
  Unlist();
}

std::string OutputFolder::Refusal(const std::string& name) const {
  std::string why;
  const std::vector<std::string> parts = Components(name, why);
  if (parts.empty()) return why;
  std::filesystem::path at = m_folder;
  for (size_t i = 0; i < parts.size(); ++i) {
    at /= parts[i];
    struct stat st;
    if (lstat(at.c_str(), &st) != 0) return "";  // nothing there yet: made fresh
    if (S_ISLNK(st.st_mode)) return at.string() + " is a symbolic link";
    const bool last = i + 1 == parts.size();
    if (!last && !S_ISDIR(st.st_mode)) return at.string() + " is not a folder";
    if (last && S_ISDIR(st.st_mode)) return at.string() + " is a folder";
    // Writing into a device or FIFO would feed it (or wait on it), and
    // replacing one would take it away.
    if (last && !S_ISREG(st.st_mode)) return at.string() + " exists and is not a regular file";
    if (last && !m_force) return at.string() + " exists (use --force to replace it)";
  }
  return "";
}

int OutputFolder::OpenFolder(const std::vector<std::string>& parts, size_t count, bool make, std::string& why) {
  UniqueFd dir(open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) {
    why = "cannot open the folder " + m_folder + ": " + LastSystemError();
    return -1;
  }
  for (size_t i = 0; i < count; ++i) {
    const char* part = parts[i].c_str();
    if (make) {
      const SignalsBlocked blocked;  // made and listed in one step
      if (mkdirat(dir.get(), part, 0777) == 0) {
        m_madeFolders.emplace_back(parts.begin(), parts.begin() + static_cast<long>(i) + 1);
        m_madeFolderPaths.push_back((std::filesystem::path(m_folder) / Joined(parts, i + 1)).string());
      } else if (errno != EEXIST) {
        why = "cannot make the folder " + Joined(parts, i + 1) + ": " + LastSystemError();
        return -1;
      }
    }
    const int next = openat(dir.get(), part, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      const int error = errno;
      struct stat st;
      // O_NOFOLLOW | O_DIRECTORY on a link fails as "not a directory":
      // say what stands there.
      if (fstatat(dir.get(), part, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        why = "refused: " + Joined(parts, i + 1) + " is a symbolic link";
      else {
        errno = error;
        why = "cannot open the folder " + Joined(parts, i + 1) + ": " + LastSystemError();
      }
      return -1;
    }
    dir.reset(next);
  }
  return dir.release();
}

void OutputFolder::Stage(const std::string& name, const FileContent& content, Progress& progress) {
  const std::string target = (std::filesystem::path(m_folder) / name).string();
  const auto fail = [&](const std::string& why) { throw ToolError(kExitFaults, target + ": " + why); };
  std::string why;
  const std::vector<std::string> parts = Components(name, why);
  if (parts.empty()) fail("refused: " + why);
  const UniqueFd dir(OpenFolder(parts, parts.size() - 1, true, why));
  if (dir.get() < 0) fail(why);

  const char* last = parts.back().c_str();
  struct stat old;
  const bool exists = fstatat(dir.get(), last, &old, AT_SYMLINK_NOFOLLOW) == 0;
  if (exists && S_ISLNK(old.st_mode)) fail("refused: it is a symbolic link");
  if (exists && !S_ISREG(old.st_mode)) fail("refused: it exists and is not a regular file");
  if (exists && !m_force) fail("exists (use --force to replace it)");

  Staged staged;
  staged.parts = parts;
  staged.targetPath = target;
  UniqueFd out(-1);
  {
    // Made and listed in one step: a signal never finds one unlisted.
    const SignalsBlocked blocked;
    for (int tries = 0; out.get() < 0 && tries < 100; ++tries) {
      staged.temporary = TemporaryName();
      out.reset(openat(dir.get(), staged.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       0666));
      if (out.get() < 0 && errno != EEXIST) break;
    }
    if (out.get() < 0) fail("cannot create a file beside it: " + LastSystemError());
    staged.temporaryPath = (std::filesystem::path(target).parent_path() / staged.temporary).string();
    m_staged.push_back(staged);  // from here on Discard removes it
  }
  if (exists) {
    // The new file stands for the old one: same permissions and, where
    // this process may set them, the same owner. Best effort.
    if (fchown(out.get(), old.st_uid, old.st_gid) != 0) errno = 0;
    fchmod(out.get(), old.st_mode & 07777);
  }

  switch (content.WriteTo(out.get(), [&](uint64_t n) { progress.Advance(n); })) {
    case FileContent::WriteResult::readFailed:
      fail(content.Problem());
      break;
    case FileContent::WriteResult::writeFailed:
      fail("cannot write: " + LastSystemError());
      break;
    case FileContent::WriteResult::written:
      break;
  }
  // An old file is only let go of once its replacement is on the disk.
  if (exists && fsync(out.get()) != 0) fail("cannot write: " + LastSystemError());
  if (close(out.release()) != 0) fail("cannot write: " + LastSystemError());
}

void OutputFolder::Commit() {
  for (Staged& staged : m_staged) {
    const std::string target = (std::filesystem::path(m_folder) / Joined(staged.parts, staged.parts.size())).string();
    std::string why;
    const UniqueFd dir(OpenFolder(staged.parts, staged.parts.size() - 1, false, why));
    if (dir.get() < 0) throw ToolError(kExitFaults, target + ": " + why);
    const char* last = staged.parts.back().c_str();
    // Looked at again: something may have been put there since.
    struct stat old;
    staged.replaced = fstatat(dir.get(), last, &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (staged.replaced && !S_ISREG(old.st_mode))
      throw ToolError(kExitFaults, target + ": refused: it exists and is not a regular file");
    {
      const SignalsBlocked blocked;  // placed and noted in one step
      if (Place(dir.get(), staged.temporary, last, m_force)) {
        staged.placed = true;
        continue;
      }
    }
    if (errno == EEXIST) throw ToolError(kExitFaults, target + ": exists (use --force to replace it)");
    throw ToolError(kExitFaults, target + ": cannot put it in place: " + LastSystemError());
  }
  // Done: nothing of it is undone any more.
  const SignalsBlocked blocked;
  m_staged.clear();
  m_madeFolders.clear();
  m_madeFolderPaths.clear();
  m_outerFolders.clear();
}

void OutputFolder::Discard() noexcept {
  const int saved = errno;
  std::string ignored;
  for (auto it = m_staged.rbegin(); it != m_staged.rend(); ++it) {
    if (it->placed && it->replaced) continue;  // the old file is gone already
    const UniqueFd dir(OpenFolder(it->parts, it->parts.size() - 1, false, ignored));
    if (dir.get() < 0) continue;
    unlinkat(dir.get(), it->placed ? it->parts.back().c_str() : it->temporary.c_str(), 0);
  }
  // Innermost first; a folder that holds anything else stays.
  for (auto it = m_madeFolders.rbegin(); it != m_madeFolders.rend(); ++it) {
    const UniqueFd dir(OpenFolder(*it, it->size() - 1, false, ignored));
    if (dir.get() >= 0) unlinkat(dir.get(), it->back().c_str(), AT_REMOVEDIR);
  }
  for (auto it = m_outerFolders.rbegin(); it != m_outerFolders.rend(); ++it) rmdir(it->c_str());
  const SignalsBlocked blocked;
  m_staged.clear();
  m_madeFolders.clear();
  m_madeFolderPaths.clear();
  m_outerFolders.clear();
  errno = saved;
}

void OutputFolder::Unlist() {
  const SignalsBlocked blocked;
  for (OutputFolder** link = &g_alive; *link != nullptr; link = &(*link)->m_next)
    if (*link == this) {
      *link = m_next;
      break;
    }
  m_next = nullptr;
}
