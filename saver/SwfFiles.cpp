#include "saver/SwfFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "builder_package/FileContent.h"
#include "builder_package/FormProgram.h"
#include "builder_package/Package.h"
#include "builder_package/PackageForm.h"
#include "builder_package/PackageReadOptions.h"
#include "saver/PackageProblem.h"
#include "saver/SaverGlobals.h"
#include "system/SysFile.h"

std::string PackagePath(const std::string& resourceDir) {
  // Joining never doubles the separator: the file name brings its own.
  std::string dir = resourceDir;
  while (!dir.empty() && dir.back() == '/') dir.pop_back();
  return dir + kPackageFileName;
}

std::string FormatTemplate(const char* format, const std::string& value) {
  std::string result;
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == '@') {
      result += value;
      ++p;
    } else {
      result += *p;
    }
  }
  return result;
}

namespace {

// A file this process made and has not deleted, with the descriptor it was
// written through: kept open so that the program can be read back without
// opening the name again. Never destroyed, so that a late exit path still
// finds it.
struct MadeFile {
  std::string path;
  int fd;
  bool named = true;  // the path still names it
};
std::vector<MadeFile>& MadeFiles() {
  static auto* files = new std::vector<MadeFile>;
  return *files;
}

void Forget(const std::string& path) {
  std::vector<MadeFile>& files = MadeFiles();
  for (auto it = files.begin(); it != files.end();) {
    if (it->path == path) {
      close(it->fd);
      it = files.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace

bool WriteSwfFile(const std::string& pathTemplate, const FileContent& content, std::string& path,
                  int& error, bool* contentUnread) {
  // mkstemp rewrites the buffer in place; size it from the template itself
  // so a long temporary directory fits.
  std::vector<char> name(pathTemplate.begin(), pathTemplate.end());
  name.push_back('\0');
  path.clear();
  if (contentUnread != nullptr) *contentUnread = false;
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    // No file was made: the template names nothing of ours, so it is not
    // recorded (a release would delete it) and nothing is written.
    error = errno;
    return false;
  }
  // Written through the descriptor mkstemp opened: opening the name again
  // would follow whatever link someone put there meanwhile.
  const FileContent::WriteResult result = content.WriteTo(fd);
  error = result == FileContent::WriteResult::written ? 0 : errno;
  if (result != FileContent::WriteResult::written) {
    if (result == FileContent::WriteResult::readFailed && contentUnread != nullptr) *contentUnread = true;
    if (error == 0) error = EIO;  // the package file ended early
    close(fd);
    unlink(name.data());
    return false;
  }
  path = name.data();
  MadeFiles().push_back(MadeFile{path, fd, true});
  return true;
}

bool WriteSwfFile(const std::string& pathTemplate, const unsigned char* data, int size,
                  std::string& path, int& error) {
  return WriteSwfFile(pathTemplate, FileContent::Borrowed(data, size < 0 ? 0 : size), path, error);
}

SwfData ReadWholeFile(int fd) {
  struct stat st = {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  auto bytes = std::make_shared<std::vector<unsigned char>>(static_cast<size_t>(st.st_size));
  size_t got = 0;
  while (got < bytes->size()) {
    const ssize_t n = pread(fd, bytes->data() + got, bytes->size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return nullptr;
    got += static_cast<size_t>(n);
  }
  return bytes;
}

SwfData ReadMadeSwfFile(const std::string& path) {
  for (const MadeFile& file : MadeFiles()) {
    if (file.path == path) return ReadWholeFile(file.fd);
  }
  return nullptr;
}

void RemoveMadeSwfFileNames() {
  for (MadeFile& file : MadeFiles()) {
    if (file.named) unlink(file.path.c_str());
    file.named = false;
  }
}

void DeleteMadeSwfFiles() {
  for (const MadeFile& file : MadeFiles()) {
    if (file.named) unlink(file.path.c_str());
    close(file.fd);
  }
  MadeFiles().clear();
}

namespace {

std::string WriteProblem(const char* programName, const std::string& tempDir, int error) {
  return std::string("the ") + programName + " cannot be written to the temporary folder " + tempDir +
         ": " + std::strerror(error);
}

// Takes one program of the form and writes it to a new file from the
// template, recording the file's path (empty when the write fails); false,
// with path and report untouched, when the form does not give the program;
// unread when its bytes could not be read from the package file. A main
// program is taken as the form hands it out (UnpackSWFToRam), also when
// the read left it in the package file, from which it then streams.
bool WriteProgram(const CPackageForm& form, FormProgram::Program which, CSysFile& package,
                  const char* programName, const std::string& tempDir, const std::string& pathTemplate,
                  std::string& path, SwfFileReport& report, bool& unread) {
  FileContent content;
  std::string why;
  unread = false;
  if (FormProgram::Take(form, which, &package, FormProgram::Length::stored, content, why) !=
      FormProgram::Outcome::taken)
    return false;
  report.unpacked = true;
  report.size = static_cast<int>(content.size());
  int error = 0;
  report.written = WriteSwfFile(pathTemplate, content, path, error, &unread);
  if (unread) report.unpacked = false;
  else if (!report.written) report.problem = WriteProblem(programName, tempDir, error);
  return true;
}

// Opens the package for reading without following it into anything that
// is not a regular file: a FIFO would block the open or the read forever,
// a device would read without end. Null with problem set otherwise.
FILE* OpenPackage(const std::string& path, std::string& problem) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    problem = PackageOpenProblem(path, errno);
    return nullptr;
  }
  struct stat st = {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int error = errno;
    problem = S_ISDIR(st.st_mode) ? PackageOpenProblem(path, EISDIR)
                                  : st.st_mode != 0 ? PackageNotAFileProblem(path)
                                                    : PackageOpenProblem(path, error);
    close(fd);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* fp = fdopen(fd, "rb");
  if (fp == nullptr) {
    problem = PackageOpenProblem(path, errno);
    close(fd);
  }
  return fp;
}

}  // namespace

bool UnpackSwfs(const std::string& resourceDir, const std::string& tempDir,
                SwfExtractionReport* report) {
  SwfExtractionReport local;
  SwfExtractionReport& out = report != nullptr ? *report : local;
  out = SwfExtractionReport{};
  out.packagePath = PackagePath(resourceDir);

  // Opened by the path's own bytes, whatever their encoding: the file
  // system takes bytes, and any conversion could name another file.
  const std::unique_ptr<FILE, int (*)(FILE*)> handle(OpenPackage(out.packagePath, out.problem), fclose);
  if (handle == nullptr) return false;
  CSysFile file(handle.get());
  CPackage package;
  // The main program stays in the file and streams from it into its own.
  PackageReadOptions options;
  options.leaveMainProgramsInFile = true;
  if (!package.Read(0, file, options)) {
    out.problem = PackageProblem(out.packagePath, package.GetReadFailure().ToString());
    return false;
  }
  CPackageForm* form = package.GetForm(0);
  if (form == nullptr) {  // a package with no forms shows nothing
    out.problem = PackageWithoutFormProblem(out.packagePath);
    return false;
  }
  out.loaded = true;

  // All three names are fixed before anything is extracted.
  const std::string fullTemplate = FormatTemplate(kFullTemplate, tempDir);
  const std::string previewTemplate = FormatTemplate(kPreviewTemplate, tempDir);
  const std::string settingsTemplate = FormatTemplate(kSettingsTemplate, tempDir);

  bool unread = false;
  if (!WriteProgram(*form, FormProgram::Program::main, file, "main program", tempDir, fullTemplate, g_full,
                    out.full, unread) ||
      unread)
    out.problem = MainProgramProblem(out.packagePath);
  out.full.path = g_full;
  // A form without a preview shows its main program there.
  if (!WriteProgram(*form, FormProgram::Program::preview, file, "preview program", tempDir, previewTemplate,
                    g_preview, out.preview, unread))
    g_preview = g_full;
  out.preview.path = g_preview;
  WriteProgram(*form, FormProgram::Program::settings, file, "settings program", tempDir, settingsTemplate,
               g_settings, out.settings, unread);
  out.settings.path = g_settings;

  for (const SwfFileReport* file : {&out.full, &out.preview, &out.settings}) {
    if (out.problem.empty()) out.problem = file->problem;
  }
  return out.problem.empty();
}

void DeleteSwfFiles() {
  // Failures are expected (an empty path, a path deleted a moment before)
  // and change nothing.
  // A name already removed is left alone (it may be someone else's by
  // now), also when a second path repeats it.
  const auto unnamed = [](const std::string& path) {
    for (const MadeFile& file : MadeFiles())
      if (file.path == path && !file.named) return true;
    return false;
  };
  const std::string* paths[] = {&g_full, &g_preview, &g_settings};
  bool leave[3];
  for (int i = 0; i < 3; ++i) leave[i] = unnamed(*paths[i]);
  for (int i = 0; i < 3; ++i)
    if (!leave[i]) unlink(paths[i]->c_str());
  for (const std::string* path : paths) Forget(*path);
}
