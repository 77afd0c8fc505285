#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

#include "builder_package/Package.h"
#include "system/SysFile.h"
#include "tools/vello/Commands.h"
#include "tools/vello/PackageComparison.h"
#include "tools/vello/PackageFile.h"
#include "tools/vello/Progress.h"
#include "tools/vello/Text.h"
#include "tools/vello/ToolError.h"

namespace {

struct Options {
  std::string package;
  std::string output;
  bool dropTrailing = false;
  bool dropDuplicates = false;
};

int Run(const Options& o) {
  LoadedPackage original = LoadPackage(o.package);
  const std::string output = o.output.empty() ? o.package : o.output;
  RefuseToDropTrailingBytes(original, o.package, o.dropTrailing);
  RefuseToDropDuplicates(original, o.package, o.dropDuplicates);

  // The new package is read back from the temporary file and compared
  // before it replaces anything, so a bad write never costs the old file.
  Progress progress("upgrading", static_cast<uint64_t>(std::filesystem::file_size(o.package)));
  SavePackage(*original.package, output, [&](FILE* written) {
    CSysFile file(written);
    CPackage readBack;
    if (!readBack.Read(0, file))
      throw ToolError(kExitFaults, output + ": the upgraded package did not read back (" +
                                       readBack.GetReadFailure().ToString() + "); nothing replaced");
    const std::string difference = FirstDifference(*original.package, readBack);
    if (!difference.empty())
      throw ToolError(kExitFaults, output + ": the upgraded package differs from " + o.package + " in " +
                                       difference + "; nothing replaced");
    progress.Advance(static_cast<uint64_t>(std::ftell(written)));
  });
  std::cout << Shown(output + ": version " + std::to_string(original.package->GetStoredVersion()) + " -> " +
                    std::to_string(CPackage::kNewestVersion) + ", read back and compared")
            << "\n";
  return kExitOk;
}

}  // namespace

Subcommand AddUpgradeCommand(CLI::App& program) {
  auto options = std::make_shared<Options>();
  CLI::App* app = program.add_subcommand(
      "upgrade",
      "Rewrite a package of any version as the newest version; the result is read back and\n"
      "compared before it replaces anything");
  app->add_option("PKG", options->package, "Package file")->required();
  app->add_option("-o,--output", options->output, "Write here instead of replacing PKG");
  app->add_flag(kDropTrailingOption, options->dropTrailing,
                "Drop bytes after the last section of the package's version (refused otherwise)");
  app->add_flag(kDropDuplicatesOption, options->dropDuplicates,
                "Drop the earlier records of a key stored more than once in a map (refused otherwise)");
  app->footer(HelpFooter("vello upgrade old.dat -o vello.dat"));
  return {app, [options] { return Run(*options); }};
}
