#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

class CPackage;

// What `vello pack` puts in a package, from its options or a manifest.
struct FormPlan {
  std::string main;  // required
  bool protect = false;
  std::string preview, settings, mask;  // empty: none
  std::string name;                     // empty: the library's default
};

using NamedValues = std::vector<std::pair<std::string, std::string>>;

struct PackPlan {
  std::vector<FormPlan> forms;
  std::string splash, trayIcon, flash, xul;  // empty: none
  NamedValues files;                          // name in the package, path
  NamedValues secureVars, globalVars;         // name, value
  std::vector<std::string> dlls;              // paths
};

// "NAME=VALUE" of --file, --secure-var and --global-var; throws
// ToolError(kExitUsage) without "=" or with an empty name.
std::pair<std::string, std::string> SplitAssignment(const std::string& option, const std::string& text);

// The manifest's content; relative paths in it are taken from the
// manifest's folder. Throws ToolError naming the manifest and the key
// when it is not what the schema in tools/vello/README.md says.
PackPlan ReadManifest(const std::string& path);

// Every input file of the plan with what it is, for checks and messages.
std::vector<std::pair<std::string, std::string>> Inputs(const PackPlan& plan);

// Fills the package. Throws ToolError(kExitUnreadable) naming an input that
// cannot be read, kExitUsage for a name or value that cannot be stored as
// given, or kExitFaults for one that cannot be packed. Every program
// (main, preview, settings) must be an SWF that verify accepts; with
// checkPrograms false one that is not is packed all the same, and said so
// on standard error.
void BuildPackage(const PackPlan& plan, CPackage& package, bool checkPrograms = true);
