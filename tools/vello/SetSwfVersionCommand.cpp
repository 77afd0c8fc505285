#include <climits>
#include <iostream>
#include <memory>

#include "builder_package/Package.h"
#include "builder_package/PackageForm.h"
#include "tools/vello/Commands.h"
#include "tools/vello/PackageFile.h"
#include "tools/vello/Text.h"
#include "tools/vello/ToolError.h"

namespace {

struct Options {
  std::string package;
  int form = 0;
  int version = 0;
  bool dropTrailing = false;
  bool dropDuplicates = false;
};

int Run(const Options& o) {
  LoadedPackage loaded = LoadPackage(o.package);
  CPackageForm* form = loaded.package->GetForm(o.form);
  const std::string where = o.package + ": form " + std::to_string(o.form);
  if (form == nullptr) throw ToolError(kExitUsage, where + " does not exist");
  if (form->IsProtected())
    throw ToolError(kExitFaults, where + " is protected: its SWF version is fixed when it is packed");
  if (form->GetSWFSize() < 4)
    throw ToolError(kExitFaults, where + " main program is too short to hold an SWF version");
  RefuseToDropTrailingBytes(loaded, o.package, o.dropTrailing);
  RefuseToDropDuplicates(loaded, o.package, o.dropDuplicates);
  form->SetSWFVersion(o.version);
  SavePackage(*loaded.package, o.package);
  std::cout << Shown(where + ": SWF version " + std::to_string(form->GetSWFVersion())) << "\n";
  return kExitOk;
}

}  // namespace

Subcommand AddSetSwfVersionCommand(CLI::App& program) {
  auto options = std::make_shared<Options>();
  CLI::App* app = program.add_subcommand(
      "set-swf-version", "Set the SWF version byte of a plain form's main program, in place");
  app->add_option("PKG", options->package, "Package file")->required();
  app->add_option("--form", options->form, "Form, counted from 0")->required()->check(CLI::Range(0, INT_MAX));
  app->add_option("VERSION", options->version, "SWF version, 0 to 255")->required()->check(CLI::Range(0, 255));
  app->add_flag(kDropTrailingOption, options->dropTrailing,
                "Drop bytes after the last section of the package's version (refused otherwise)");
  app->add_flag(kDropDuplicatesOption, options->dropDuplicates,
                "Drop the earlier records of a key stored more than once in a map (refused otherwise)");
  app->footer(HelpFooter("vello set-swf-version vello.dat --form 0 10"));
  return {app, [options] { return Run(*options); }};
}
