#include "saver/platform/LumettaSettings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include "system/UniqueFd.h"

namespace fs = std::filesystem;

namespace {

constexpr const char kSettingsTail[] = "lumetta/lumetta.conf";

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// "name = value" into its two halves; false when the line has no '='.
bool SplitAssignment(const std::string& line, std::string& name, std::string& value) {
  const size_t equals = line.find('=');
  if (equals == std::string::npos) return false;
  name = Trim(line.substr(0, equals));
  value = Trim(line.substr(equals + 1));
  return true;
}

bool Skipped(const std::string& line) {
  const std::string text = Trim(line);
  return text.empty() || text[0] == '#';
}

// "~/..." is the home folder's, as a person writes it in a file.
std::string ExpandHome(const std::string& path) {
  const char* home = std::getenv("HOME");
  if (path.rfind("~/", 0) == 0 && home != nullptr && *home != '\0') return home + path.substr(1);
  return path;
}

// The settings that are yes or no, and the option each sets.
struct YesNoSetting {
  const char* name;
  bool LumettaOptions::*option;
};
constexpr YesNoSetting kYesNoSettings[] = {
    {"sound", &LumettaOptions::sound},
    {"network", &LumettaOptions::network},
};

std::string KnownSettings() {
  std::string names = "resources, renderer";
  for (const YesNoSetting& setting : kYesNoSettings) names += std::string(", ") + setting.name;
  return names;
}

bool IsKnown(const std::string& name) {
  if (name == "resources" || name == "renderer") return true;
  for (const YesNoSetting& setting : kYesNoSettings)
    if (name == setting.name) return true;
  return false;
}

// One setting into options; false with what is wrong with it.
bool ApplySetting(const std::string& name, const std::string& value, LumettaOptions& options,
                  std::string& error) {
  if (name == "resources") {
    if (value.empty()) {
      error = "resources needs a folder or a vello.dat";
      return false;
    }
    options.resources = ExpandHome(value);
    return true;
  }
  if (name == "renderer") {
    std::string why;
    if (!ParseLumettaOptions({"--renderer=" + value}, options, why)) {
      error = "renderer needs auto, webgl or canvas, not '" + value + "'";
      return false;
    }
    return true;
  }
  for (const YesNoSetting& setting : kYesNoSettings) {
    if (name != setting.name) continue;
    for (const char* yes : {"yes", "true", "on", "1"}) {
      if (value == yes) {
        options.*setting.option = true;
        return true;
      }
    }
    for (const char* no : {"no", "false", "off", "0"}) {
      if (value == no) {
        options.*setting.option = false;
        return true;
      }
    }
    error = name + " needs yes or no, not '" + value + "'";
    return false;
  }
  error = "unknown setting '" + name + "' (known: " + KnownSettings() + ")";
  return false;
}

// A settings file is a few lines; anything larger is not one.
constexpr off_t kMostSettingsBytes = 64 * 1024;

// Opened without waiting and checked on the descriptor: a FIFO or a device
// put where the file belongs must not hang or flood a screen saver.
bool ReadLines(const std::string& path, std::vector<std::string>& lines, std::string& error) {
  const UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat info = {};
  if (fd.get() < 0 || fstat(fd.get(), &info) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (S_ISDIR(info.st_mode)) error = "it is a folder";
  else if (!S_ISREG(info.st_mode)) error = "it is not a regular file";
  else if (info.st_size > kMostSettingsBytes) error = "it is larger than 64 KiB";
  if (!error.empty()) return false;
  std::string text(static_cast<size_t>(info.st_size), '\0');
  size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = read(fd.get(), text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = std::strerror(errno);
      return false;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  text.resize(got);
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return true;
}

}  // namespace

std::string SettingsFilePath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  // XDG says a relative value is to be ignored.
  if (config != nullptr && config[0] == '/') return (fs::path(config) / kSettingsTail).string();
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return (fs::path(home) / ".config" / kSettingsTail).string();
  return "";
}

bool ReadSettingsFile(const std::string& path, LumettaOptions& options, std::string& error) {
  std::error_code ec;
  if (!fs::exists(path, ec) && !ec) return true;
  std::vector<std::string> lines;
  std::string why;
  if (!ReadLines(path, lines, why)) {
    error = "cannot read the settings file " + path + ": " + why;
    return false;
  }
  LumettaOptions read = options;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (Skipped(lines[i])) continue;
    std::string name;
    std::string value;
    if (!SplitAssignment(lines[i], name, value)) {
      why = "not a setting (name = value)";
    } else {
      ApplySetting(name, value, read, why);
    }
    if (!why.empty()) {
      error = path + ":" + std::to_string(i + 1) + ": " + why;
      return false;
    }
  }
  options = read;
  return true;
}

bool WriteSetting(const std::string& path, const std::string& assignment, std::string& error) {
  std::string name;
  std::string value;
  if (!SplitAssignment(assignment, name, value) || name.empty()) {
    error = "--set needs NAME=VALUE, not '" + assignment + "'";
    return false;
  }
  if (!value.empty()) {
    LumettaOptions check;
    if (!ApplySetting(name, value, check, error)) return false;
    if (name == "resources") {
      // Refused now rather than at the next start, which would be the
      // screen saver's, where nobody reads the reason.
      std::string folder;
      if (!ResourceFolderOf(value, folder, error)) return false;
      std::error_code ec;
      if (fs::exists(folder, ec) && !fs::is_directory(folder, ec)) {
        error = "resources needs a folder or a vello.dat, and " + value + " is neither";
        return false;
      }
      value = fs::absolute(check.resources).lexically_normal().string();
    }
  } else if (!IsKnown(name)) {
    error = "unknown setting '" + name + "' (known: " + KnownSettings() + ")";
    return false;
  }

  std::vector<std::string> lines;
  std::error_code ec;
  if (fs::exists(path, ec)) {
    std::string why;
    if (!ReadLines(path, lines, why)) {
      error = "cannot read the settings file " + path + ": " + why;
      return false;
    }
  } else {
    lines.push_back("# lumetta's settings (man lumetta); lumetta --set NAME=VALUE changes them.");
  }
  // The setting's own line, where it was; any repeat of it goes.
  bool placed = false;
  std::vector<std::string> kept;
  for (const std::string& line : lines) {
    std::string lineName;
    std::string lineValue;
    if (!Skipped(line) && SplitAssignment(line, lineName, lineValue) && lineName == name) {
      if (!placed && !value.empty()) kept.push_back(name + " = " + value);
      placed = true;
      continue;
    }
    kept.push_back(line);
  }
  if (!placed && !value.empty()) kept.push_back(name + " = " + value);

  const fs::path file(path);
  fs::create_directories(file.parent_path(), ec);
  const std::string scratch = path + ".new";
  {
    std::ofstream out(scratch, std::ios::trunc);
    for (const std::string& line : kept) out << line << "\n";
    out.flush();
    if (!out) {
      error = "cannot write the settings file " + scratch + ": " + std::strerror(errno);
      fs::remove(scratch, ec);
      return false;
    }
  }
  if (std::rename(scratch.c_str(), path.c_str()) != 0) {
    error = "cannot write the settings file " + path + ": " + std::strerror(errno);
    fs::remove(scratch, ec);
    return false;
  }
  return true;
}

bool ResourceFolderOf(const std::string& resources, std::string& folder, std::string& error) {
  std::error_code ec;
  const fs::path path(resources);
  if (!fs::is_regular_file(path, ec)) {
    folder = resources;
    return true;
  }
  if (path.filename() != "vello.dat") {
    error = "the package " + resources + " is not named vello.dat; name its folder, or a vello.dat";
    return false;
  }
  folder = path.has_parent_path() ? path.parent_path().string() : ".";
  return true;
}
