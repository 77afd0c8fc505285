#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

class CPackage;

// What `vello pack` puts in a package, from its options or a manifest.
struct FormSpec {
  std::string main;  // required
  bool protect = false;
  std::string preview, settings, mask;  // empty: none
  std::string name;                     // empty: the library's default
};

struct PackSpec {
  std::vector<FormSpec> forms;
};

// The manifest's content; relative paths in it are taken from the
// manifest's folder. Throws ToolError naming the manifest and the key
// when it is not what the schema in tools/vello/README.md says.
PackSpec ReadManifest(const std::string& path);

// Every input file of the spec with what it is, for checks and messages.
std::vector<std::pair<std::string, std::string>> Inputs(const PackSpec& spec);

// Fills the package. Throws ToolError(kExitUnreadable) naming an input that
// cannot be read, or kExitFaults for one that cannot be packed.
void BuildPackage(const PackSpec& spec, CPackage& package);
