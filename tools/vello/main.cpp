// vello: builds, inspects, extracts, upgrades and verifies package files.

#include <csignal>
#include <iostream>
#include <vector>

#include "system/AtomicFile.h"
#include "tools/vello/Commands.h"
#include "tools/vello/Progress.h"
#include "tools/vello/Text.h"
#include "tools/vello/ToolError.h"

namespace {

void RemoveTemporaryFilesThenEnd(int signal) {
  AtomicFile::RemovePendingFiles();
  // The handler was reset to the default action, which takes the process
  // once the signal is unblocked on return.
  raise(signal);
}

// A signal that ends vello first removes the temporary file of a save in
// progress. Signals ignored when vello started (nohup) stay ignored.
void HandleSignals() {
  // Past the file-size limit a write then fails with EFBIG and is reported,
  // instead of the signal ending vello in the middle of a write.
  std::signal(SIGXFSZ, SIG_IGN);
  struct sigaction action = {};
  action.sa_handler = RemoveTemporaryFilesThenEnd;
  sigfillset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  for (int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF,
                     SIGXCPU, SIGIO}) {
    struct sigaction old = {};
    if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
  }
}

}  // namespace

int main(int argc, char** argv) {
  HandleSignals();
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
