#include "saver/PackageProblem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "builder_package/Package.h"

namespace {

// The first integer of the file, little-endian; false when the file is
// shorter than one.
bool ReadFirstInt(int fd, long long& value) {
  unsigned char bytes[4];
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = read(fd, bytes + got, sizeof bytes - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  const unsigned int u = bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
                         static_cast<unsigned int>(bytes[3]) << 24;
  value = static_cast<int>(u);
  return true;
}

}  // namespace

std::string PackageOpenProblem(const std::string& packagePath, int error) {
  switch (error) {
    case ENOENT:
      return "the package " + packagePath + " was not found";
    case EISDIR:
      return packagePath + " is a folder, not a package file";
    case EACCES:
    case EPERM:
      return "no permission to read the package " + packagePath;
    default:
      return "the package " + packagePath + " cannot be opened: " + std::strerror(error);
  }
}

std::string PackageProblem(const std::string& packagePath, const std::string& whereReadingStopped) {
  // The package library only says that loading failed; asking the file
  // system again tells a missing file from a damaged one.
  struct stat st = {};
  if (stat(packagePath.c_str(), &st) != 0) return PackageOpenProblem(packagePath, errno);
  if (S_ISDIR(st.st_mode)) return PackageOpenProblem(packagePath, EISDIR);
  const int fd = open(packagePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return PackageOpenProblem(packagePath, errno);
  long long version = 0;
  const bool hasVersion = ReadFirstInt(fd, version);
  close(fd);
  // The format has no magic number: a version outside the known range is
  // the only sign that the file is something else.
  if (!hasVersion || version < 1 || version > CPackage::kNewestVersion)
    return packagePath + " is not a package of this format";
  std::string problem = "the package " + packagePath + " is damaged";
  if (!whereReadingStopped.empty()) problem += ": reading stopped " + whereReadingStopped;
  return problem;
}

std::string PackageWithoutFormProblem(const std::string& packagePath) {
  return "the package " + packagePath + " holds no form";
}

std::string MainProgramProblem(const std::string& packagePath) {
  return "the package " + packagePath + " is damaged: its first form's main program cannot be recovered";
}

std::string PackageNotAFileProblem(const std::string& packagePath) {
  return packagePath + " is not a regular file, so it is not read as a package";
}
