#pragma once

#include <string>

#include "builder_package/FileContent.h"

class Progress;

// Files written under one folder by relative names (which may hold
// folders: "levels/one.swf"). A name that would lead out of the folder is
// refused: an absolute name, a ".." component, or a path through a
// symbolic link (checked while opening, so a link made meanwhile is
// refused too). An existing file is never replaced unless force is set.
class OutputFolder {
 public:
  OutputFolder(std::string folder, bool force);

  // Empty when the name, as text, stays inside a folder: not empty, not
  // absolute, no ".." component. Otherwise why not.
  static std::string NameRefusal(const std::string& name);

  // Empty when the name may be written; otherwise why not. Creates nothing.
  std::string Refusal(const std::string& name) const;

  // Writes the content under the name, creating its folders. Throws
  // ToolError(kExitFaults) naming the file when it is refused or cannot be
  // written; a partly written file is removed.
  void Write(const std::string& name, const FileContent& content, Progress& progress) const;

  const std::string& Folder() const { return m_folder; }

 private:
  std::string m_folder;
  bool m_force;
};
