#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

#include "builder_package/Package.h"
#include "tools/vello/Commands.h"
#include "tools/vello/PackageComparison.h"
#include "tools/vello/PackageFile.h"
#include "tools/vello/Progress.h"
#include "tools/vello/ToolError.h"

namespace {

struct Options {
  std::string package;
  std::string output;
};

// A candidate file beside the target, removed unless it was put in place.
class Candidate {
 public:
  explicit Candidate(const std::filesystem::path& target) {
    std::string pattern = target.string() + ".upgrade-XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) throw ToolError(kExitFaults, target.string() + ": cannot write beside it: " + LastSystemError());
    close(fd);
    m_path = pattern;
  }
  ~Candidate() {
    if (!m_path.empty()) std::remove(m_path.c_str());
  }
  Candidate(const Candidate&) = delete;
  Candidate& operator=(const Candidate&) = delete;

  const std::string& Path() const { return m_path; }
  void Placed() { m_path.clear(); }

 private:
  std::string m_path;
};

// The file a path names: a symbolic link is written through, as the
// library's save does.
std::filesystem::path Resolved(const std::string& path) {
  std::error_code ec;
  const auto resolved = std::filesystem::weakly_canonical(path, ec);
  return ec ? std::filesystem::path(path) : resolved;
}

// The permission bits the target keeps, or those of a new file.
mode_t TargetMode(const std::filesystem::path& target) {
  struct stat st;
  if (stat(target.c_str(), &st) == 0) return st.st_mode & 07777;
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

int Run(const Options& o) {
  LoadedPackage original = LoadPackage(o.package);
  const std::string output = o.output.empty() ? o.package : o.output;
  const std::filesystem::path target = Resolved(output);

  // The new package is written beside the target, read back and compared
  // before it replaces anything, so a bad write never costs the old file.
  Candidate candidate(target);
  Progress progress("upgrading", static_cast<uint64_t>(std::filesystem::file_size(o.package)));
  SavePackage(*original.package, candidate.Path());
  LoadedPackage written;
  try {
    written = LoadPackage(candidate.Path());
  } catch (const ToolError& e) {
    throw ToolError(kExitFaults, output + ": the upgraded package did not read back (" + e.what() + "); nothing replaced");
  }
  const std::string difference = FirstDifference(*original.package, *written.package);
  if (!difference.empty())
    throw ToolError(kExitFaults, output + ": the upgraded package differs from " + o.package + " in " + difference + "; nothing replaced");
  if (chmod(candidate.Path().c_str(), TargetMode(target)) != 0 ||
      std::rename(candidate.Path().c_str(), target.c_str()) != 0)
    throw ToolError(kExitFaults, output + ": cannot replace: " + LastSystemError());
  candidate.Placed();
  progress.Advance(static_cast<uint64_t>(std::filesystem::file_size(target)));
  std::cout << output << ": version " << original.package->GetStoredVersion() << " -> "
            << CPackage::kNewestVersion << ", read back and compared\n";
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
  app->footer(HelpFooter("vello upgrade old.dat -o vello.dat"));
  return {app, [options] { return Run(*options); }};
}
