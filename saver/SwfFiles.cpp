#include "saver/SwfFiles.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "builder_package/FileContent.h"
#include "builder_package/Package.h"
#include "builder_package/PackageForm.h"
#include "builder_package/PackageReadOptions.h"
#include "builder_package/ProtectedSWF.h"
#include "builder_package/Scramble.h"
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

// One program recovered from a form: the buffer the form handed out.
struct Unpacked {
  std::unique_ptr<unsigned char[]> bytes;
  int size = 0;
};

template <typename UnpackFn>
bool UnpackProgram(UnpackFn unpack, Unpacked& program) {
  unsigned char* buffer = nullptr;
  int size = 0;
  if (!unpack(&buffer, size)) return false;  // nothing was handed out
  program.bytes.reset(buffer);
  program.size = size;
  return true;
}

std::string WriteProblem(const char* programName, const std::string& tempDir, int error) {
  return std::string("the ") + programName + " cannot be written to the temporary folder " + tempDir +
         ": " + std::strerror(error);
}

void WriteProgram(const char* programName, const std::string& tempDir,
                  const std::string& pathTemplate, const Unpacked& program, std::string& path,
                  SwfFileReport& report) {
  report.unpacked = true;
  report.size = program.size;
  int error = 0;
  report.written = WriteSwfFile(pathTemplate, program.bytes.get(), program.size, path, error);
  if (!report.written) report.problem = WriteProblem(programName, tempDir, error);
}

// The main program of a form whose read left it in the package file:
// a plain one streams from the file into its own; a protected one is read
// and decoded whole, as the form would have.
void WriteMainProgramFromFile(CSysFile& package, const CPackageForm& form, const std::string& packagePath,
                              const std::string& tempDir, const std::string& pathTemplate,
                              SwfExtractionReport& out) {
  const int length = form.GetSWFSize();
  out.full.size = length;
  int error = 0;
  bool unread = false;
  if (!form.IsProtected()) {
    out.full.unpacked = true;
    out.full.written = WriteSwfFile(
        pathTemplate,
        FileContent::DescrambledFromFile(package, form.GetStoredSWFOffset(), length, Scramble::kProgram),
        g_full, error, &unread);
    if (unread) {
      out.full.unpacked = false;
      out.problem = MainProgramProblem(packagePath);
    } else if (!out.full.written) {
      out.full.problem = WriteProblem("main program", tempDir, error);
    }
    return;
  }
  std::vector<unsigned char> stored(static_cast<size_t>(length));
  Unpacked program;
  program.size = length;
  program.bytes.reset(new unsigned char[static_cast<size_t>(length)]());
  int decoded = 0;
  if (package.ReadAt(form.GetStoredSWFOffset(), stored.data(), length) != length ||
      !ProtectedSWF::Unpack(stored.data(), length, form.GetKeyText(), form.GetKeyTextLength(),
                            program.bytes.get(), length, decoded)) {
    out.problem = MainProgramProblem(packagePath);
  } else {
    WriteProgram("main program", tempDir, pathTemplate, program, g_full, out.full);
  }
  // Deciphered content stays in memory no longer than it is needed.
  OPENSSL_cleanse(program.bytes.get(), static_cast<size_t>(length));
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

  Unpacked program;
  if (form->GetStoredSWFOffset() >= 0) {
    WriteMainProgramFromFile(file, *form, out.packagePath, tempDir, fullTemplate, out);
  } else if (UnpackProgram([&](unsigned char** p, int& n) { return form->UnpackSWFToRam(p, n); },
                           program)) {
    WriteProgram("main program", tempDir, fullTemplate, program, g_full, out.full);
  } else {
    out.problem = MainProgramProblem(out.packagePath);
  }
  out.full.path = g_full;
  program = Unpacked{};
  if (UnpackProgram(
          [&](unsigned char** p, int& n) { return form->UnpackSaverPreviewToRam(p, n); },
          program)) {
    WriteProgram("preview program", tempDir, previewTemplate, program, g_preview, out.preview);
  } else {
    g_preview = g_full;
  }
  out.preview.path = g_preview;

  program = Unpacked{};
  if (UnpackProgram(
          [&](unsigned char** p, int& n) { return form->UnpackSaverSettingsToRam(p, n); },
          program)) {
    WriteProgram("settings program", tempDir, settingsTemplate, program, g_settings,
                 out.settings);
  }
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
