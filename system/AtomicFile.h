#pragma once

#include <cstdio>
#include <string>
#include <sys/types.h>

// Replaces a file atomically: the new content goes to a temporary file in
// the target's folder, which is renamed over the target only once every
// byte is flushed to disk. Until Commit succeeds the target is untouched;
// an uncommitted temporary file is removed when the object goes away.
// A target that is a symbolic link is written through: the link stays and
// the file it names is replaced. The new file keeps the old one's
// permission bits (or the usual ones for a new file).
class AtomicFile {
 public:
  explicit AtomicFile(const std::string& targetPath);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  bool Begin();
  FILE* Handle() const { return m_fp; }
  bool Commit();

  const std::string& Target() const { return m_target; }

 private:
  void Discard();

  std::string m_target;
  std::string m_tempPath;
  FILE* m_fp = nullptr;
  mode_t m_mode = 0;
};
