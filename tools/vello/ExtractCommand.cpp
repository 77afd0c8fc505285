#include <filesystem>
#include <iostream>
#include <memory>
#include <utility>
#include <vector>

#include "builder_package/Package.h"
#include "builder_package/PackageForm.h"
#include "tools/vello/Commands.h"
#include "tools/vello/FormContent.h"
#include "tools/vello/OutputFolder.h"
#include "tools/vello/PackageContent.h"
#include "tools/vello/PackageFile.h"
#include "tools/vello/Progress.h"
#include "tools/vello/Text.h"
#include "tools/vello/ToolError.h"

namespace {

struct Options {
  std::string package;
  int form = 0;
  std::string folder = ".";
  bool force = false;
};

// The files map goes into its own folder so that its names never meet the
// fixed names of the programs and resources.
constexpr const char* kFilesFolder = "files";

using Outputs = std::vector<std::pair<std::string, FileContent>>;

// The form's programs and mask under their fixed names.
void CollectForm(CPackageForm& form, CSysFile* packageFile, const std::string& where, Outputs& outputs) {
  FileContent program;
  std::string problem;
  if (!MainProgramFile(form, packageFile, program, problem))
    throw ToolError(kExitFaults, where + " main program " + problem);
  outputs.emplace_back("main.swf", std::move(program));
  for (const Companion& companion : kCompanions) {
    ByteVector content;
    if (companion.take(form, content, problem))
      outputs.emplace_back(companion.fileName, FileContent::Held(std::move(content)));
    else if (!problem.empty())
      throw ToolError(kExitFaults, where + " " + companion.what + " " + problem);
  }
}

// The resources under their fixed names and the files map under files/.
void CollectSections(const CPackage& package, const std::string& where, Outputs& outputs) {
  for (const ResourceView& resource : Resources(package)) {
    if (!resource.present()) continue;
    ByteVector bytes;
    std::string problem;
    if (!ResourceBytes(resource, bytes, problem))
      throw ToolError(kExitFaults, where + " " + resource.key + " " + problem);
    outputs.emplace_back(resource.fileName, FileContent::Held(std::move(bytes)));
  }
  for (const auto& [wideName, binary] : package.GetFiles()) {
    const std::string name = Utf8(wideName);
    // Checked before the folder prefix hides an absolute name.
    const std::string refusal = OutputFolder::NameRefusal(name);
    if (!refusal.empty())
      throw ToolError(kExitFaults, where + " refused to extract the file \"" + name + "\": " + refusal);
    outputs.emplace_back(std::string(kFilesFolder) + "/" + name, BinaryFile(*binary));
  }
}

int Run(const Options& o) {
  // The main program streams from the package file on the way out: it is
  // the bulk of most packages, and a copy of it in memory would cost more
  // than the copy to disk.
  LoadedPackage loaded = LoadPackageLeavingPrograms(o.package);
  CPackageForm* form = loaded.package->GetForm(o.form);
  if (form == nullptr)
    throw ToolError(kExitUsage, o.package + ": has no form " + std::to_string(o.form) + " (it holds " +
                                    std::to_string(loaded.package->GetFormCount()) + ")");
  Outputs outputs;
  CollectForm(*form, loaded.file.get(), o.package + ": form " + std::to_string(o.form), outputs);
  CollectSections(*loaded.package, o.package + ":", outputs);

  std::error_code ec;
  std::filesystem::create_directories(o.folder, ec);
  if (ec) throw ToolError(kExitFaults, o.folder + ": cannot make the folder: " + ec.message());
  const OutputFolder folder(o.folder, o.force);
  // Every name is checked before anything is written, so that a refusal
  // leaves the folder as it was.
  uint64_t total = 0;
  for (const auto& [name, content] : outputs) {
    const std::string refusal = folder.Refusal(name);
    if (!refusal.empty()) throw ToolError(kExitFaults, o.package + ": refused to extract \"" + name + "\": " + refusal);
    total += content.size();
  }
  Progress progress("extracting", total);
  for (const auto& [name, content] : outputs) folder.Write(name, content, progress);
  return kExitOk;
}

}  // namespace

Subcommand AddExtractCommand(CLI::App& program) {
  auto options = std::make_shared<Options>();
  CLI::App* app = program.add_subcommand(
      "extract",
      "Write a form's programs (main.swf, preview.swf, settings.swf), its mask (mask.bin), the\n"
      "resources (splash.bin, tray-icon.bin, flash.bin, xul.bin) and the files map (under files/)\n"
      "into a folder. Names of the files map that would lead out of it are refused");
  app->add_option("PKG", options->package, "Package file")->required();
  app->add_option("--form", options->form, "Form to extract, counted from 0")->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  app->add_option("-o,--output", options->folder, "Folder to write into (made when missing)")
      ->capture_default_str();
  app->add_flag("--force", options->force, "Replace files that exist");
  app->footer(HelpFooter("vello extract vello.dat --form 0 -o unpacked"));
  return {app, [options] { return Run(*options); }};
}
