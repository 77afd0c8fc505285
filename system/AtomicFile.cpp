#include "system/AtomicFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Follows a chain of symbolic links to the path that is really written.
std::string ResolveLinks(std::string path) {
  for (int hop = 0; hop < 40; ++hop) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    std::error_code error;
    std::filesystem::path next = std::filesystem::read_symlink(path, error);
    if (error) return path;
    if (next.is_relative()) next = std::filesystem::path(path).parent_path() / next;
    path = next.string();
  }
  return path;
}

mode_t ModeForNewFile() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

AtomicFile::AtomicFile(const std::string& targetPath) : m_target(ResolveLinks(targetPath)) {}

AtomicFile::~AtomicFile() { Discard(); }

bool AtomicFile::Begin() {
  Discard();
  struct stat info;
  m_mode = stat(m_target.c_str(), &info) == 0 ? (info.st_mode & 07777) : ModeForNewFile();

  const std::filesystem::path target(m_target);
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  std::string tempPath = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = mkstemp(tempPath.data());
  if (fd < 0) return false;
  m_fp = fdopen(fd, "w+b");
  if (m_fp == nullptr) {
    close(fd);
    unlink(tempPath.c_str());
    return false;
  }
  m_tempPath = tempPath;
  return true;
}

bool AtomicFile::Commit() {
  if (m_fp == nullptr) return false;
  const int fd = fileno(m_fp);
  bool ok = std::fflush(m_fp) == 0 && fsync(fd) == 0 && fchmod(fd, m_mode) == 0;
  ok = (std::fclose(m_fp) == 0) && ok;
  m_fp = nullptr;
  if (ok && std::rename(m_tempPath.c_str(), m_target.c_str()) == 0) {
    m_tempPath.clear();
    return true;
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
    unlink(m_tempPath.c_str());
    m_tempPath.clear();
  }
}
