#include "tools/vello/OutputFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <sstream>

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

class Fd {
 public:
  explicit Fd(int fd) : m_fd(fd) {}
  ~Fd() {
    if (m_fd >= 0) close(m_fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return m_fd; }
  int release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
  }
  void reset(int fd) {
    if (m_fd >= 0) close(m_fd);
    m_fd = fd;
  }

 private:
  int m_fd;
};

std::string Joined(const std::string& folder, const std::string& name) {
  return (std::filesystem::path(folder) / name).string();
}

}  // namespace

std::string OutputFolder::NameRefusal(const std::string& name) {
  std::string why;
  Components(name, why);
  return why;
}

OutputFolder::OutputFolder(std::string folder, bool force) : m_folder(std::move(folder)), m_force(force) {}

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
    if (last && !m_force) return at.string() + " exists (use --force to replace it)";
    if (last && S_ISDIR(st.st_mode)) return at.string() + " is a folder";
  }
  return "";
}

void OutputFolder::Write(const std::string& name, const FileContent& content, Progress& progress) const {
  const std::string target = Joined(m_folder, name);
  const auto fail = [&](const std::string& why) { throw ToolError(kExitFaults, target + ": " + why); };
  std::string why;
  const std::vector<std::string> parts = Components(name, why);
  if (parts.empty()) fail("refused: " + why);

  Fd dir(open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) fail("cannot open the folder " + m_folder + ": " + LastSystemError());
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    if (mkdirat(dir.get(), parts[i].c_str(), 0777) != 0 && errno != EEXIST)
      fail("cannot make the folder " + parts[i] + ": " + LastSystemError());
    const int next = openat(dir.get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0)
      fail(errno == ELOOP ? "refused: " + parts[i] + " is a symbolic link"
                          : "cannot open the folder " + parts[i] + ": " + LastSystemError());
    dir.reset(next);
  }
  const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (m_force ? O_TRUNC : O_EXCL);
  Fd out(openat(dir.get(), parts.back().c_str(), flags, 0666));
  if (out.get() < 0) {
    if (errno == EEXIST) fail("exists (use --force to replace it)");
    if (errno == ELOOP) fail("refused: it is a symbolic link");
    fail("cannot create: " + LastSystemError());
  }
  const auto discard = [&](const std::string& why) {
    unlinkat(dir.get(), parts.back().c_str(), 0);
    fail(why);
  };
  switch (content.WriteTo(out.get(), [&](uint64_t n) { progress.Advance(n); })) {
    case FileContent::WriteResult::readFailed:
      discard("cannot read its bytes from the package: " + FileContent::WhyNotRead());
      break;
    case FileContent::WriteResult::writeFailed:
      discard("cannot write: " + LastSystemError());
      break;
    case FileContent::WriteResult::written:
      break;
  }
  if (close(out.release()) != 0) discard("cannot write: " + LastSystemError());
}
