#include <algorithm>
#include <climits>
#include <functional>
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

// One file of the output, made only when its turn comes: one output at a
// time is held (a protected program decoded, a companion program), the
// others are streamed. make throws ToolError when the content is damaged.
struct Output {
  std::string name;
  std::uint64_t size;  // as recorded, for the progress bar
  std::function<FileContent()> make;
};
using Outputs = std::vector<Output>;

[[noreturn]] void Damaged(const std::string& where, const std::string& what, const std::string& problem) {
  throw ToolError(kExitFaults, where + " " + what + " " + problem);
}

// The form's programs and mask under their fixed names.
void CollectForm(CPackageForm& form, CSysFile* packageFile, const std::string& where, Outputs& outputs) {
  outputs.push_back({"main.swf", static_cast<std::uint64_t>(std::max(0, form.GetSWFSize())), [=, &form] {
                       FileContent program;
                       std::string problem;
                       if (!MainProgramFile(form, packageFile, program, problem))
                         Damaged(where, "main program", problem);
                       return program;
                     }});
  for (const Companion& companion : kCompanions) {
    if (!companion.isProgram) continue;
    const int size = (form.*companion.size)();
    if (size == 0) continue;
    outputs.push_back({companion.fileName, static_cast<std::uint64_t>(std::max(0, size)), [=, &form] {
                         ByteVector content;
                         std::string problem;
                         if (!companion.take(form, content, problem)) Damaged(where, companion.what, problem);
                         return FileContent::Held(std::move(content));
                       }});
  }
  FileContent mask;
  std::string problem;
  if (MaskFile(form, mask, problem))
    outputs.push_back({"mask.bin", mask.size(), [mask] { return mask; }});
  else if (!problem.empty())
    Damaged(where, "mask", problem);
}

// The resources under their fixed names and the files map under files/.
void CollectSections(const CPackage& package, const std::string& where, Outputs& outputs) {
  for (const ResourceView& resource : Resources(package)) {
    if (!resource.present()) continue;
    FileContent content;
    std::string problem;
    if (!ResourceFile(resource, content, problem)) Damaged(where, resource.key, problem);
    outputs.push_back({resource.fileName, content.size(), [content] { return content; }});
  }
  for (const auto& [wideName, binary] : package.GetFiles()) {
    const std::string name = Utf8(wideName);
    // Checked before the folder prefix hides an absolute name.
    const std::string refusal = OutputFolder::NameRefusal(name);
    if (!refusal.empty())
      throw ToolError(kExitFaults, where + " refused to extract the file \"" + name + "\": " + refusal);
    const FileContent content = BinaryFile(*binary);
    outputs.push_back({std::string(kFilesFolder) + "/" + name, content.size(), [content] { return content; }});
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

  // Every name is checked before anything is written, so that a refusal
  // leaves the folder as it was.
  std::vector<std::string> names;
  for (const Output& output : outputs) names.push_back(output.name);
  const std::string collision = OutputFolder::Collision(names);
  if (!collision.empty()) throw ToolError(kExitFaults, o.package + ": refused to extract: " + collision);
  OutputFolder folder(o.folder, o.force);
  uint64_t total = 0;
  for (const Output& output : outputs) {
    const std::string refusal = folder.Refusal(output.name);
    if (!refusal.empty())
      throw ToolError(kExitFaults, o.package + ": refused to extract \"" + output.name + "\": " + refusal);
    total += output.size;
  }
  // All or nothing: a failure on the way (a damaged item, a full disk)
  // leaves the folder as it was, as the folder's destructor undoes it.
  uint64_t written = 0;
  {
    Progress progress("extracting", total);
    uint64_t planned = 0;
    for (const Output& output : outputs) {
      const FileContent content = output.make();
      folder.Stage(output.name, content, progress);
      written += content.size();
      // A protected program decodes to fewer bytes than it is stored in.
      planned += output.size;
      progress.AdvanceTo(planned);
    }
  }
  folder.Commit();
  if (!Progress::Quiet())
    std::cout << Shown(o.folder + ": extracted " + std::to_string(outputs.size()) +
                       (outputs.size() == 1 ? " file, " : " files, ") + std::to_string(written) + " bytes")
              << "\n";
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
      ->check(CLI::Range(0, INT_MAX));
  app->add_option("-o,--output", options->folder, "Folder to write into (made when missing)")
      ->capture_default_str();
  app->add_flag("--force", options->force, "Replace files that exist");
  app->footer(HelpFooter("vello extract vello.dat --form 0 -o unpacked"));
  return {app, [options] { return Run(*options); }};
}
