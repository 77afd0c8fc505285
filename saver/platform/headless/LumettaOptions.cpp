#include "saver/platform/headless/LumettaOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

// A whole decimal number of seconds, fractions allowed; no signs, no
// exponents, no "inf".
bool ParseSeconds(const std::string& text, double& seconds) {
  if (text.empty()) return false;
  bool digit = false;
  bool point = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (!digit) return false;
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(value)) return false;
  seconds = value;
  return true;
}

}  // namespace

bool ParseLumettaOptions(const std::vector<std::string>& args, LumettaOptions& options,
                         std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string value;
    bool hasValue = false;
    if (arg.rfind("--", 0) == 0) {
      const size_t equals = arg.find('=');
      if (equals != std::string::npos) {
        value = arg.substr(equals + 1);
        arg.resize(equals);
        hasValue = true;
      }
    }
    const bool takesValue = arg == "--resources" || arg == "--seconds";
    if (hasValue && !takesValue) {
      error = "option " + arg + " takes no value";
      return false;
    }
    if (takesValue && !hasValue) {
      if (i + 1 >= args.size()) {
        error = "option " + arg + (arg == "--seconds" ? " needs a number of seconds"
                                                      : " needs a directory");
        return false;
      }
      value = args[++i];
    }

    if (arg == "--preview") {
      options.preview = true;
    } else if (arg == "--configure") {
      options.configure = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--resources") {
      if (value.empty()) {
        error = "option --resources needs a directory";
        return false;
      }
      options.resources = value;
    } else if (arg == "--seconds") {
      double seconds = 0;
      if (!ParseSeconds(value, seconds)) {
        error = "option --seconds needs a number of seconds (0 or more), not '" + value + "'";
        return false;
      }
      options.seconds = seconds;
    } else if (arg.rfind("-", 0) == 0) {
      error = "unknown option '" + arg + "'";
      return false;
    } else {
      error = "unexpected argument '" + arg + "'";
      return false;
    }
  }
  return true;
}

std::string LumettaUsage() {
  return "Usage: lumetta [--preview] [--configure] [--resources DIR] [--seconds N] [--help]\n"
         "\n"
         "Runs the saver view without a display. The view reads DIR/vello.dat,\n"
         "extracts the first form's main, preview and settings programs to\n"
         "temporary files in $TMPDIR (or /tmp) and prints them and the page its\n"
         "web view would show. It runs until Ctrl-C or N seconds, then releases\n"
         "the view, which deletes the files.\n"
         "\n"
         "Options:\n"
         "  --preview        be the small preview view (shows the preview program)\n"
         "  --configure      also open the configuration sheet (the settings\n"
         "                   program's page), then press its OK button\n"
         "  --resources DIR  folder holding vello.dat (default: the demo package\n"
         "                   built beside this program, ../demo/resources)\n"
         "  --seconds N      stop after N seconds (fractions allowed; 0 releases\n"
         "                   the view at once); default: run until interrupted\n"
         "  --help           show this text\n"
         "\n"
         "Exit status: 0 when the package was shown, 1 when it could not be read,\n"
         "2 for a bad command line.\n";
}
