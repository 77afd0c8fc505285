#pragma once

// Independent peers for the file-system services: runs a command such as
// `cp -r` or `find` directly (argument vector, no shell) and snapshots a
// tree so that two results can be compared entry by entry.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <system_error>
#include <vector>

extern char** environ;

// Runs argv[0] found on PATH; its standard output goes to outFile when
// given. The exit status, or -1 when it could not run.
inline int RunPeer(const std::vector<std::string>& argv, const std::string& outFile = "") {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!outFile.empty())
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every entry below root by relative path: "dir", "file:<bytes>" or
// "link:<target>", an absolute target below root written "<root>/...",
// so that twin trees compare equal. Links are not followed.
inline std::map<std::string, std::string> Snapshot(const std::filesystem::path& root) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> entries;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().lexically_relative(root).string();
    const fs::file_status status = it->symlink_status();
    if (fs::is_symlink(status)) {
      std::string target = fs::read_symlink(it->path()).string();
      if (target.rfind(root.string() + "/", 0) == 0) target.replace(0, root.string().size(), "<root>");
      entries[name] = "link:" + target;
    } else if (fs::is_directory(status)) {
      entries[name] = "dir";
    } else {
      std::ifstream in(it->path(), std::ios::binary);
      entries[name] = "file:" + std::string(std::istreambuf_iterator<char>(in), {});
    }
  }
  return entries;
}
