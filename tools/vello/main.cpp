// vello: builds, inspects, extracts, upgrades and verifies package files.

#include <iostream>
#include <vector>

#include "tools/vello/Commands.h"
#include "tools/vello/Progress.h"
#include "tools/vello/Text.h"
#include "tools/vello/ToolError.h"

int main(int argc, char** argv) {
  CLI::App program{"vello: builds, inspects, extracts, upgrades and verifies vello.dat packages"};
  program.footer(HelpFooter("vello pack -o vello.dat --main saver.swf --protect"));
  program.require_subcommand(1);
  program.fallthrough();  // --quiet may follow the subcommand
  bool quiet = false;
  program.add_flag("-q,--quiet", quiet, "No progress bar");

  const std::vector<Subcommand> commands = {
      AddInfoCommand(program),    AddExtractCommand(program), AddPackCommand(program),
      AddUpgradeCommand(program), AddVerifyCommand(program),  AddSetSwfVersionCommand(program)};

  try {
    program.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return program.exit(e);
  } catch (const CLI::ParseError& e) {
    program.exit(e);
    return kExitUsage;
  }
  Progress::SetQuiet(quiet);

  for (const Subcommand& command : commands) {
    if (!command.app->parsed()) continue;
    try {
      return command.run();
    } catch (const ToolError& e) {
      // Messages quote names from packages and the command line: shown
      // with their control characters escaped.
      std::cerr << "vello " << command.app->get_name() << ": " << Shown(e.what()) << "\n";
      return e.Code();
    } catch (const std::exception& e) {
      std::cerr << "vello " << command.app->get_name() << ": " << Shown(e.what()) << "\n";
      return kExitFaults;
    }
  }
  return kExitUsage;
}
