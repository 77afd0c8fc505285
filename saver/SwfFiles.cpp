#include "saver/SwfFiles.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "builder_package/Package.h"
#include "builder_package/PackageForm.h"
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
                  std::string& path) {
  // mkstemp rewrites the buffer in place; size it from the template itself
  // so a long temporary directory fits.
  std::vector<char> name(pathTemplate.begin(), pathTemplate.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    // No file was made. Opening whatever name mkstemp last tried could
    // truncate someone else's file, so record the template and stop.
    path = pathTemplate;
    return false;
  }
  close(fd);
  path = name.data();

  FILE* fp = std::fopen(path.c_str(), "wb");
  if (fp == nullptr) return false;
  bool written = true;
  if (size > 0) {
    written = std::fwrite(data, static_cast<size_t>(size), 1, fp) == 1;
  }
  if (std::fclose(fp) != 0) written = false;
  return written;
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

void WriteProgram(const std::string& pathTemplate, const Unpacked& program, std::string& path,
                  SwfFileReport& report) {
  report.unpacked = true;
  report.size = program.size;
  report.written = WriteSwfFile(pathTemplate, program.bytes.get(), program.size, path);
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
    return false;
  }

  CPackage package;
  if (!package.Load(0, widePath)) return false;
  CPackageForm* form = package.GetForm(0);
  if (form == nullptr) return false;  // a package with no forms shows nothing
  out.loaded = true;

  // All three names are fixed before anything is extracted.
  const std::string fullTemplate = FormatTemplate(kFullTemplate, tempDir);
  const std::string previewTemplate = FormatTemplate(kPreviewTemplate, tempDir);
  const std::string settingsTemplate = FormatTemplate(kSettingsTemplate, tempDir);

  Unpacked program;
  if (UnpackProgram([&](unsigned char** p, int& n) { return form->UnpackSWFToRam(p, n); },
                    program)) {
    WriteProgram(fullTemplate, program, g_full, out.full);
  }
  out.full.path = g_full;

  program = Unpacked{};
  if (UnpackProgram(
          [&](unsigned char** p, int& n) { return form->UnpackSaverPreviewToRam(p, n); },
          program)) {
    WriteProgram(previewTemplate, program, g_preview, out.preview);
  } else {
    g_preview = g_full;
  }
  out.preview.path = g_preview;

  program = Unpacked{};
  if (UnpackProgram(
          [&](unsigned char** p, int& n) { return form->UnpackSaverSettingsToRam(p, n); },
          program)) {
    WriteProgram(settingsTemplate, program, g_settings, out.settings);
  }
  out.settings.path = g_settings;
  return true;
}

void DeleteSwfFiles() {
  // Failures are expected (an empty path, a path deleted a moment before)
  // and change nothing.
  unlink(g_full.c_str());
  unlink(g_preview.c_str());
  unlink(g_settings.c_str());
}
