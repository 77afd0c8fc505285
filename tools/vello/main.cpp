// vello: builds, inspects, extracts, upgrades and verifies package files.

#include <algorithm>
#include <csignal>
#include <iostream>
#include <vector>

#include "system/AtomicFile.h"
#include "tools/vello/Commands.h"
#include "tools/vello/OutputFolder.h"
#include "tools/vello/Progress.h"
#include "tools/vello/Text.h"
#include "tools/vello/ToolError.h"

namespace {

void RemoveTemporaryFilesThenEnd(int signal) {
  AtomicFile::RemovePendingFiles();
  OutputFolder::RemovePendingFiles();
  // The handler was reset to the default action, which takes the process
  // once the signal is unblocked on return.
  raise(signal);
}

// A signal that ends vello first removes the temporary file of a save in
// progress, and what an extract in progress made. Signals ignored when vello started (nohup) stay ignored.
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

// Edits (insertions, deletions, substitutions) that turn a into b.
size_t Distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The option of the command nearest to an unknown one ("--mian"), or the
// command nearest to an unknown command ("pak"), when it is near enough to
// be a slip.
std::string Nearest(const CLI::App& command, const std::string& given) {
  const std::string word = given.substr(0, given.find('='));
  std::vector<std::string> known;
  if (word.size() >= 2 && word[0] == '-') {
    for (const CLI::Option* option : command.get_options())
      for (const std::string& name : option->get_lnames()) known.push_back("--" + name);
  } else if (command.get_parent() == nullptr) {
    for (const CLI::App* sub : command.get_subcommands([](const CLI::App*) { return true; }))
      known.push_back(sub->get_name());
  }
  std::string best;
  size_t bestDistance = 3;  // more edits than this is another word
  for (const std::string& name : known) {
    const size_t d = Distance(word, name);
    if (d < bestDistance) bestDistance = d, best = name;
  }
  return best;
}

// CLI11's own errors, said as vello says its others: after the command's
// name, with the nearest option for one that is not known.
int UsageError(const CLI::App& program, const CLI::ParseError& e) {
  const CLI::App* command = &program;
  for (const CLI::App* sub : program.get_subcommands()) command = sub;
  std::string message = e.what();
  const std::vector<std::string> extras = program.remaining(true);
  if (command == &program && !extras.empty() && extras.front()[0] != '-')
    message = "\"" + extras.front() + "\" is not a command";
  if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr || command == &program) {
    for (const std::string& extra : extras) {
      const std::string nearest = Nearest(*command, extra);
      if (!nearest.empty()) {
        message += " (did you mean " + nearest + "?)";
        break;
      }
    }
  }
  const std::string name = command == &program ? "vello" : "vello " + command->get_name();
  std::cerr << name << ": " << Shown(message) << "\n"
            << "Run " << name << " --help for more information.\n";
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  HandleSignals();
  CLI::App program{"vello: builds, inspects, extracts, upgrades and verifies vello.dat packages"};
  program.footer(HelpFooter("vello pack -o vello.dat --main saver.swf --protect"));
  program.require_subcommand(1);
  program.fallthrough();  // --quiet may follow the subcommand
  bool quiet = false;
  program.add_flag("-q,--quiet", quiet, "No progress bar, and no line saying what was written");

  const std::vector<Subcommand> commands = {
      AddInfoCommand(program),    AddExtractCommand(program), AddPackCommand(program),
      AddUpgradeCommand(program), AddVerifyCommand(program),  AddSetSwfVersionCommand(program)};

  try {
    program.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return program.exit(e);
  } catch (const CLI::ParseError& e) {
    return UsageError(program, e);
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
