#include "saver/SwfFiles.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "builder_package/Package.h"
#include "builder_package/PackageForm.h"
#include "saver/PackageProblem.h"
#include "saver/SaverGlobals.h"
#include "system/SysStringHelper.h"

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

bool WriteSwfFile(const std::string& pathTemplate, const unsigned char* data, int size,
                  std::string& path, int& error) {
  // mkstemp rewrites the buffer in place; size it from the template itself
  // so a long temporary directory fits.
  std::vector<char> name(pathTemplate.begin(), pathTemplate.end());
  name.push_back('\0');
  path.clear();
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    // No file was made: the template names nothing of ours, so it is not
    // recorded (a release would delete it) and nothing is written.
    error = errno;
    return false;
  }
  // Written through the descriptor mkstemp opened: opening the name again
  // would follow whatever link someone put there meanwhile.
  FILE* fp = fdopen(fd, "wb");
  if (fp == nullptr) {
    error = errno;
    close(fd);
    unlink(name.data());
    return false;
  }
  errno = 0;
  bool written = size <= 0 || std::fwrite(data, static_cast<size_t>(size), 1, fp) == 1;
  error = written ? 0 : errno;
  // Bytes still buffered reach the file at the close; a full disk may show
  // only there.
  if (std::fclose(fp) != 0 && written) {
    written = false;
    error = errno;
  }
  if (!written) {
    if (error == 0) error = EIO;  // a short write that set no error number
    unlink(name.data());
    return false;
  }
  path = name.data();
  return true;
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

void WriteProgram(const char* programName, const std::string& tempDir,
                  const std::string& pathTemplate, const Unpacked& program, std::string& path,
                  SwfFileReport& report) {
  report.unpacked = true;
  report.size = program.size;
  int error = 0;
  report.written = WriteSwfFile(pathTemplate, program.bytes.get(), program.size, path, error);
  if (!report.written) {
    report.problem = std::string("the ") + programName +
                     " cannot be written to the temporary folder " + tempDir + ": " +
                     std::strerror(error);
  }
}

}  // namespace

bool UnpackSwfs(const std::string& resourceDir, const std::string& tempDir,
                SwfExtractionReport* report) {
  SwfExtractionReport local;
  SwfExtractionReport& out = report != nullptr ? *report : local;
  out = SwfExtractionReport{};
  out.packagePath = PackagePath(resourceDir);

  CSysStringHelper& strings = CSysStringHelper::GetSingleton();
  std::wstring widePath;
  // The conversion stops at a byte sequence that is not UTF-8; a shortened
  // path could name another file, so refuse it.
  if (!strings.UTF8ToNative(out.packagePath, widePath) ||
      strings.ToUTF8(widePath) != out.packagePath) {
    out.problem = PackagePathProblem(out.packagePath);
    return false;
  }

  CPackage package;
  if (!package.Load(0, widePath)) {
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
  if (UnpackProgram([&](unsigned char** p, int& n) { return form->UnpackSWFToRam(p, n); },
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
  unlink(g_full.c_str());
  unlink(g_preview.c_str());
  unlink(g_settings.c_str());
}
