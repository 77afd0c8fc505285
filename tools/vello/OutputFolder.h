#pragma once

#include <string>
#include <vector>

#include "builder_package/FileContent.h"

class Progress;

// Files written under one folder by relative names (which may hold
// folders: "levels/one.swf"), all or none. A name that would lead out of
// the folder is refused: an absolute name, a ".." component, or a path
// through a symbolic link (checked while opening, so a link made meanwhile
// is refused too). An existing file is never replaced unless force is set,
// and then only a regular file.
//
// Each file is first written whole to a temporary name beside its place
// (Stage); Commit then renames them all into place. Discard (or the
// destructor) undoes what was not committed: it removes every temporary
// file, the files a failed Commit had put where nothing was, and the
// folders made since: a failure at any point leaves the folder as it was,
// old files included.
class OutputFolder {
 public:
  // Makes the folder (and its parents) when missing; throws
  // ToolError(kExitFaults) when that fails, leaving none made.
  OutputFolder(std::string folder, bool force);
  ~OutputFolder();
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  // Empty when the name, as text, stays inside a folder: not empty, not
  // absolute, no ".." component. Otherwise why not.
  static std::string NameRefusal(const std::string& name);

  // Empty when no two names land on one file ("a" and "./a") and none
  // needs another as a folder ("x" and "x/y"); otherwise both names and
  // why. Names the text refuses (NameRefusal) are not compared.
  static std::string Collision(const std::vector<std::string>& names);

  // Empty when the name may be written; otherwise why not. Creates nothing.
  std::string Refusal(const std::string& name) const;

  // Writes the content to a temporary file in the name's folder, making its
  // folders. Throws ToolError(kExitFaults) naming the file when it is
  // refused or cannot be written.
  void Stage(const std::string& name, const FileContent& content, Progress& progress);

  // Renames every staged file onto its name. Throws ToolError(kExitFaults)
  // when one cannot be put in place (a refusal found only now, such as
  // something that is no regular file standing there).
  void Commit();

  // Undoes what this object did (see above). Never throws.
  void Discard() noexcept;

  const std::string& Folder() const { return m_folder; }

  // What Discard would remove, of every OutputFolder alive, by path:
  // temporary files, files placed where nothing stood, folders made.
  // Async-signal-safe, for handlers of signals that end the process.
  static void RemovePendingFiles();

 private:
  struct Staged {
    std::vector<std::string> parts;  // the name's components
    std::string temporary;           // its name in the last folder
    bool placed = false;             // renamed onto parts.back()
    bool replaced = false;           // an old file stood there
    std::string temporaryPath, targetPath;  // whole, for a signal handler
  };
  // A descriptor of the folder that holds parts[0..count), walked one
  // component at a time without following links; made when make is set
  // (and remembered). -1 with why when it cannot be opened.
  int OpenFolder(const std::vector<std::string>& parts, size_t count, bool make, std::string& why);

  void Unlist();

  std::string m_folder;
  bool m_force;
  std::vector<std::string> m_outerFolders;  // the folder and its parents made, outermost first
  std::vector<Staged> m_staged;
  std::vector<std::vector<std::string>> m_madeFolders;
  std::vector<std::string> m_madeFolderPaths;  // the same, whole
  OutputFolder* m_next = nullptr;              // in the list of those alive
};
