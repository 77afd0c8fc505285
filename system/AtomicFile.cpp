#include "system/AtomicFile.h"

#include <fcntl.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <pthread.h>
#include <unistd.h>

#include "system/SignalsBlocked.h"

namespace {

// Saves begun and not yet finished, for RemovePendingFiles. Changed only
// while signals are blocked, so a handler never sees it half changed.
AtomicFile* g_pending = nullptr;

mode_t ModeForNewFile() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

constexpr const char* kExists = "exists, and replacing it was not asked for";
constexpr const char* kMadeMeanwhile = "was made by another while being saved, and replacing it was not asked for";

// rename that fails with EEXIST rather than replace a file; a file system
// without RENAME_NOREPLACE gets a link, which refuses too.
bool RenameWithoutReplacing(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL) return false;
  if (link(from.c_str(), to.c_str()) != 0) return false;
  unlink(from.c_str());
  return true;
}

}  // namespace

AtomicFile::AtomicFile(const std::string& targetPath) : m_target(targetPath) {}

AtomicFile::~AtomicFile() { Discard(); }

bool AtomicFile::Fail(const std::string& why) {
  m_failure = why;
  return false;
}

std::string AtomicFile::Refusal(const struct stat& target) {
  const mode_t type = target.st_mode & S_IFMT;
  if (type == S_IFLNK) return "is a symbolic link, which a save does not follow: name the file itself";
  if (type != S_IFREG) {
    const char* kind = type == S_IFDIR    ? "a folder"
                       : type == S_IFCHR  ? "a character device"
                       : type == S_IFBLK  ? "a block device"
                       : type == S_IFIFO  ? "a FIFO"
                       : type == S_IFSOCK ? "a socket"
                                          : "not a file";
    return std::string("is ") + kind + ", not a regular file";
  }
  if (target.st_nlink > 1)
    return "has " + std::to_string(target.st_nlink - 1) +
           " other hard link(s), which replacing it would part from it: copy it to a file of its own first";
  return "";
}

bool AtomicFile::Begin() {
  Discard();
  m_failure.clear();
  m_replacing = false;
  if (lstat(m_target.c_str(), &m_old) == 0) {
    const std::string refusal = Refusal(m_old);
    if (!refusal.empty()) return Fail(refusal);
    if (!m_mayReplace) return Fail(kExists);
    m_replacing = true;
  } else if (errno != ENOENT) {
    return Fail(SystemError("cannot be examined"));
  }

  const std::filesystem::path target(m_target);
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  std::string tempPath = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  int fd = -1;
  {
    const SignalsBlocked blocked;
    fd = mkstemp(tempPath.data());
    if (fd < 0) return Fail(SystemError("cannot make a temporary file beside it"));
    m_tempPath = tempPath;
    m_nextPending = g_pending;
    g_pending = this;
  }
  m_fp = fdopen(fd, "w+b");
  if (m_fp == nullptr) {
    Fail(SystemError("cannot write beside it"));
    close(fd);
    Discard();
    return false;
  }
  return true;
}

mode_t AtomicFile::KeepOwnership(int fd) const {
  if (!m_replacing) return ModeForNewFile();
  mode_t mode = m_old.st_mode & 07777;
  // Root may give the file back to its owner; a member of the file's
  // group may keep the group. Anyone else makes the file their own.
  if (fchown(fd, m_old.st_uid, m_old.st_gid) != 0) (void)fchown(fd, static_cast<uid_t>(-1), m_old.st_gid);
  struct stat now;
  if (fstat(fd, &now) != 0) return mode & S_IRWXU;  // owner unknown: keep it private
  if (now.st_uid != m_old.st_uid) mode &= ~S_ISUID;
  if (now.st_gid != m_old.st_gid) {
    // The writer's group must not gain what the old group had.
    const mode_t groupAndOthers = (mode >> 3) & mode & 07;
    mode = (mode & ~(S_ISGID | S_IRWXG)) | (groupAndOthers << 3);
  }
  return mode;
}

bool AtomicFile::Commit() {
  if (m_fp == nullptr) return Fail("was not begun");
  const int fd = fileno(m_fp);
  bool ok = std::fflush(m_fp) == 0;
  if (ok) {
    const mode_t mode = KeepOwnership(fd);
    ok = fchmod(fd, mode) == 0 && fsync(fd) == 0;
  }
  if (!ok) Fail(SystemError("cannot write"));
  if (std::fclose(m_fp) != 0 && ok) ok = Fail(SystemError("cannot write"));
  m_fp = nullptr;
  if (!ok) {
    Discard();
    return false;
  }

  // What stands at the target now must be what Begin accepted: a file
  // made or swapped in meanwhile is refused like one found at Begin.
  struct stat now;
  if (lstat(m_target.c_str(), &now) == 0) {
    const std::string refusal = Refusal(now);
    if (!refusal.empty()) ok = Fail(refusal);
    else if (!m_mayReplace) ok = Fail(kMadeMeanwhile);
    else if (m_replacing && (now.st_dev != m_old.st_dev || now.st_ino != m_old.st_ino))
      ok = Fail("was replaced by another file while being saved");
  }
  if (ok) {
    const SignalsBlocked blocked;
    if (m_mayReplace ? std::rename(m_tempPath.c_str(), m_target.c_str()) == 0
                     : RenameWithoutReplacing(m_tempPath, m_target)) {
      Unlist();
      m_tempPath.clear();
      m_failure.clear();
      return true;
    }
    Fail(errno == EEXIST ? std::string(kMadeMeanwhile) : SystemError("cannot be replaced"));
  }
  Discard();
  return false;
}

void AtomicFile::Discard() {
  if (m_fp != nullptr) {
    std::fclose(m_fp);
    m_fp = nullptr;
  }
  if (!m_tempPath.empty()) {
    const SignalsBlocked blocked;
    unlink(m_tempPath.c_str());
    Unlist();
    m_tempPath.clear();
  }
}

void AtomicFile::Unlist() {
  for (AtomicFile** link = &g_pending; *link != nullptr; link = &(*link)->m_nextPending)
    if (*link == this) {
      *link = m_nextPending;
      break;
    }
  m_nextPending = nullptr;
}

void AtomicFile::RemovePendingFiles() {
  for (const AtomicFile* file = g_pending; file != nullptr; file = file->m_nextPending)
    unlink(file->m_tempPath.c_str());
}
