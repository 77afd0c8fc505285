#include <iostream>
#include <memory>

#include "builder_package/Package.h"
#include "tools/vello/Commands.h"
#include "tools/vello/PackageDescription.h"
#include "tools/vello/PackageFile.h"
#include "tools/vello/ToolError.h"

Subcommand AddInfoCommand(CLI::App& program) {
  struct Options {
    std::string package;
    bool json = false;
    bool showValues = false;
    bool all = false;
  };
  auto options = std::make_shared<Options>();
  CLI::App* app = program.add_subcommand(
      "info", "Describe a package: version, forms and their programs, sections");
  app->add_option("PKG", options->package, "Package file")->required();
  app->add_flag("--json", options->json,
                "One JSON document instead of a summary (schema in tools/vello/README.md)");
  app->add_flag("--show-values", options->showValues, "Also show the values of variables");
  app->add_flag("--all", options->all,
                "Also show the numbered fields the format leaves unnamed (header, form fields, options);\n"
                "--json always holds them");
  app->footer(HelpFooter("vello info --json vello.dat"));

  return {app, [options] {
            const LoadedPackage loaded = LoadPackage(options->package);
            const nlohmann::json description =
                DescribePackage(*loaded.package, options->package, options->showValues);
            if (options->json)
              // A path that is not UTF-8 cannot be a JSON string as it is.
              std::cout << description.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
            else
              PrintSummary(description, std::cout, options->all);
            return static_cast<int>(kExitOk);
          }};
}
