#include "saver/platform/HostReport.h"

#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include "saver/SaverGlobals.h"
#include "saver/platform/TerminalText.h"

namespace {

void PrintProgram(std::ostream& out, const char* label, const SwfFileReport& program,
                  const std::string& absent) {
  out << label;
  if (!program.unpacked) {
    out << absent << "\n";
  } else if (!program.written) {
    out << Printable(program.path) << " (" << program.size << " bytes, COULD NOT BE WRITTEN)\n";
  } else {
    out << Printable(program.path) << " (" << program.size << " bytes)\n";
  }
}

}  // namespace

void PrintExtraction(const SwfExtractionReport& report, std::ostream& out) {
  out << "package: " << Printable(report.packagePath) << "\n";
  if (!report.loaded) {
    out << "  nothing extracted: the package does not read or holds no form\n";
    return;
  }
  PrintProgram(out, "  main program:     ", report.full, "none could be recovered");
  PrintProgram(out, "  preview program:  ", report.preview,
               "none in the form; shows the main program's file " + Printable(g_preview));
  PrintProgram(out, "  settings program: ", report.settings, "none in the form");
}

bool ReportExtractionProblem(const SwfExtractionReport& report) {
  if (report.problem.empty() && report.loaded) return true;
  std::cout << std::flush;
  std::cerr << "lumetta: "
            << Printable(report.problem.empty()
                             ? "no package with a form could be read from " + report.packagePath
                             : report.problem)
            << "\n";
  return false;
}

bool ReportDeletedFiles(const SwfExtractionReport& report, std::ostream& out) {
  bool allGone = true;
  for (const SwfFileReport* program : {&report.full, &report.preview, &report.settings}) {
    if (!program->written) continue;
    std::error_code ec;
    const bool left = std::filesystem::exists(program->path, ec);
    out << (left ? "still there: " : "deleted: ") << Printable(program->path) << "\n";
    if (left) allGone = false;
  }
  return allGone;
}
