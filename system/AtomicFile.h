#pragma once

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

// Replaces a file atomically: the new content goes to a temporary file in
// the target's folder, which is renamed over the target only once every
// byte is flushed to disk. Until Commit succeeds the target is untouched;
// an uncommitted temporary file is removed when the object goes away, and
// by RemovePendingFiles when a signal ends the process.
//
// The target path is taken as the bytes the file system uses. Only a
// regular file with no other hard link is replaced: a symbolic link is
// refused, never followed (the rename would replace the link, and
// following it by hand would bypass the kernel's checks on links in shared
// folders), and so are devices, FIFOs, sockets and folders, and a file
// with other names, which a rename would part from it.
//
// The new file keeps the old one's owner, group and permission bits where
// the writer may set them. Where it cannot keep the group, the new group
// gets no more than others had, and set-user-ID or set-group-ID bits that
// would now name the writer are dropped. A new file gets 0666 less the
// umask.
class AtomicFile {
 public:
  explicit AtomicFile(const std::string& targetPath);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Whether the save may replace a file (true unless set). When not, Begin
  // refuses a target that exists, and Commit one made there meanwhile:
  // the rename itself refuses, so no moment is left in between.
  void SetMayReplace(bool may) { m_mayReplace = may; }

  // Checks the target and makes the temporary file; false, with Failure()
  // saying why, when the target is refused or nothing can be made beside it.
  bool Begin();
  // The temporary file, open for update ("w+b"); null outside Begin..Commit.
  FILE* Handle() const { return m_fp; }
  // Flushes, syncs and renames over the target; false, with Failure()
  // saying why, when any step fails or the target changed since Begin.
  // The temporary file is gone afterwards, either way.
  bool Commit();

  const std::string& Target() const { return m_target; }
  // Why Begin or Commit failed, as a phrase after the target's name
  // ("is a symbolic link ..."); empty after success.
  const std::string& Failure() const { return m_failure; }

  // Removes the temporary file of every save begun and not yet committed
  // or discarded. Async-signal-safe, for handlers of signals that end the
  // process.
  static void RemovePendingFiles();

 private:
  bool Fail(const std::string& why);
  // Empty when the file at the target may be replaced; otherwise why not.
  static std::string Refusal(const struct stat& target);
  mode_t KeepOwnership(int fd) const;
  void Discard();
  void Unlist();

  std::string m_target;
  std::string m_tempPath;
  std::string m_failure;
  FILE* m_fp = nullptr;
  bool m_mayReplace = true;
  bool m_replacing = false;  // the target existed at Begin; m_old is its state
  struct stat m_old = {};
  AtomicFile* m_nextPending = nullptr;
};
