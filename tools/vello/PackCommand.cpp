#include <sys/stat.h>

#include <iostream>
#include <memory>
#include <vector>

#include "builder_package/Package.h"
#include "tools/vello/Commands.h"
#include "tools/vello/PackPlan.h"
#include "tools/vello/PackageFile.h"
#include "tools/vello/Progress.h"
#include "tools/vello/Text.h"
#include "tools/vello/ToolError.h"

namespace {

struct Options {
  std::string output;
  bool force = false;
  bool noCheck = false;
  std::string manifest;
  FormPlan form;
  PackPlan package;  // the sections; forms come from form or the manifest
  std::vector<std::string> files, secureVars, globalVars;
};

constexpr const char* kContentOptions[] = {
    "--main", "--protect", "--preview", "--settings", "--mask", "--name", "--splash", "--tray-icon",
    "--flash", "--xul", "--file", "--secure-var", "--global-var", "--dll"};

// The output is never one of the inputs (whatever name reaches it), and
// an existing file is replaced only when asked: said here before any work,
// and held by the save itself against a file made meanwhile. Other things
// standing there (links, devices, folders) are refused by the save.
void RefuseToDestroy(const Options& o, const PackPlan& plan) {
  struct stat output;
  if (stat(o.output.c_str(), &output) != 0) return;
  std::vector<std::pair<std::string, std::string>> inputs = Inputs(plan);
  if (!o.manifest.empty()) inputs.emplace_back("manifest", o.manifest);
  for (const auto& [what, path] : inputs) {
    struct stat input;
    if (stat(path.c_str(), &input) == 0 && input.st_dev == output.st_dev && input.st_ino == output.st_ino)
      throw ToolError(kExitFaults, o.output + ": is the " + what + " " + path +
                                       "; packing would destroy it; nothing written");
  }
  struct stat target;
  if (!o.force && lstat(o.output.c_str(), &target) == 0 && S_ISREG(target.st_mode))
    throw ToolError(kExitFaults, o.output + ": exists (use --force to replace it); nothing written");
}

int Run(const Options& o, const CLI::App& app) {
  PackPlan plan;
  if (!o.manifest.empty()) {
    for (const char* name : kContentOptions)
      if (app.count(name) > 0)
        throw ToolError(kExitUsage, std::string(name) + " cannot be combined with --manifest");
    plan = ReadManifest(o.manifest);
  } else {
    if (o.form.main.empty()) throw ToolError(kExitUsage, "--main (or --manifest) is required");
    plan = o.package;
    plan.forms.push_back(o.form);
    for (const std::string& file : o.files) plan.files.push_back(SplitAssignment("--file", file));
    for (const std::string& var : o.secureVars) plan.secureVars.push_back(SplitAssignment("--secure-var", var));
    for (const std::string& var : o.globalVars) plan.globalVars.push_back(SplitAssignment("--global-var", var));
  }
  RefuseToDestroy(o, plan);
  CPackage package;
  BuildPackage(plan, package, !o.noCheck);
  SavePackage(package, o.output, nullptr, o.force);
  if (!Progress::Quiet()) {
    struct stat written;
    const long long size = stat(o.output.c_str(), &written) == 0 ? written.st_size : 0;
    std::cout << Shown(o.output + ": packed " + std::to_string(plan.forms.size()) +
                       (plan.forms.size() == 1 ? " form, " : " forms, ") + std::to_string(size) + " bytes")
              << "\n";
  }
  return kExitOk;
}

}  // namespace

Subcommand AddPackCommand(CLI::App& program) {
  auto options = std::make_shared<Options>();
  CLI::App* app = program.add_subcommand("pack", "Build a package from files");
  app->add_option("-o,--output", options->output, "Package file to write (never one of the inputs)")->required();
  app->add_flag("--force", options->force, "Replace the output file if it exists");
  app->add_flag("--no-check", options->noCheck,
                "Pack programs that are not sound SWF programs all the same (refused otherwise)");
  FormPlan& form = options->form;
  app->add_option("--main", form.main, "Main SWF program of the form");
  app->add_flag("--protect", form.protect,
                "Store the main program scrambled under a fresh key that travels in the package:\n"
                "it stops casual copying, not a determined reader, who finds the key beside it");
  app->add_option("--preview", form.preview, "Preview SWF program");
  app->add_option("--settings", form.settings, "Settings SWF program");
  app->add_option("--mask", form.mask, "Mask file (stored compressed)");
  app->add_option("--name", form.name, "Name of the form");
  PackPlan& sections = options->package;
  app->add_option("--splash", sections.splash, "Splash resource (stored compressed)");
  app->add_option("--tray-icon", sections.trayIcon, "Tray icon resource (stored compressed)");
  app->add_option("--flash", sections.flash, "Flash resource (stored compressed)");
  app->add_option("--xul", sections.xul, "Xul resource (stored compressed)");
  app->add_option("--file", options->files, "NAME=PATH: a file of the files map (repeatable)");
  app->add_option("--secure-var", options->secureVars, "K=V: a secure variable (repeatable)");
  app->add_option("--global-var", options->globalVars, "K=V: a global variable (repeatable)");
  app->add_option("--dll", sections.dlls, "A DLL binary (repeatable)");
  app->add_option("--manifest", options->manifest,
                  "JSON file describing the package, for several forms (schema in tools/vello/README.md)");
  app->footer(HelpFooter("vello pack -o vello.dat --main saver.swf --preview small.swf --protect"));
  return {app, [options, app] { return Run(*options, *app); }};
}
