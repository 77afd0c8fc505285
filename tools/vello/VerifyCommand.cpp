#include <algorithm>
#include <iostream>
#include <memory>
#include <vector>

#include "builder_package/Package.h"
#include "builder_package/PackageForm.h"
#include "tools/vello/Commands.h"
#include "tools/vello/FormContent.h"
#include "tools/vello/OutputFolder.h"
#include "tools/vello/PackageContent.h"
#include "tools/vello/PackageFile.h"
#include "tools/vello/Progress.h"
#include "tools/vello/SwfCheck.h"
#include "tools/vello/Text.h"
#include "tools/vello/ToolError.h"

namespace {

class Faults {
 public:
  explicit Faults(std::string file) : m_file(std::move(file)) {}
  void Report(const std::string& what) {
    std::cout << Shown(m_file + ": " + what) << "\n";
    ++m_count;
  }
  int Count() const { return m_count; }

 private:
  std::string m_file;
  int m_count = 0;
};

void CheckProgram(Faults& faults, const std::string& what, const ByteVector& bytes) {
  const SwfCheck swf = CheckSwf(bytes.data(), bytes.size());
  if (!swf.ok()) faults.Report(what + " " + swf.problem);
}

void CheckForm(Faults& faults, CPackageForm& form, const std::string& where) {
  ByteVector bytes;
  std::string problem;
  bool encrypted = false;
  if (form.IsProtected() && RsaKeyBits(form, &encrypted) == 0)
    faults.Report(where + " " + (encrypted ? kEncryptedKey : "key text is no RSA private key"));
  // A program under an encrypted key cannot be decoded, for the reason
  // just given.
  if (!encrypted) {
    if (MainProgram(form, nullptr, bytes, problem))
      CheckProgram(faults, where + " main program", bytes);
    else
      faults.Report(where + " main program " + problem);
  }
  for (const Companion& companion : kCompanions) {
    if (!companion.isProgram) continue;
    if (companion.take(form, bytes, problem))
      CheckProgram(faults, where + " " + companion.what, bytes);
    else if (!problem.empty())
      faults.Report(where + " " + companion.what + " " + problem);
  }
  // Inflated a piece at a time: a recorded size is not trusted with memory.
  FileContent mask;
  const bool hasMask = MaskFile(form, mask, problem);
  if (hasMask ? !ReadsWhole(mask, problem) : !problem.empty())
    faults.Report(where + " mask " + problem);
}

void CheckSections(Faults& faults, const CPackage& package) {
  for (const ResourceView& resource : Resources(package)) {
    FileContent content;
    std::string problem;
    if (resource.present() && !(ResourceFile(resource, content, problem) && ReadsWhole(content, problem)))
      faults.Report(std::string(resource.key) + " " + problem);
  }
  // Names that extract would refuse.
  std::vector<std::string> names;
  for (const auto& entry : package.GetFiles()) {
    names.push_back(Utf8(entry.first));
    const std::string refusal = OutputFolder::NameRefusal(names.back());
    if (!refusal.empty()) faults.Report("file \"" + names.back() + "\" cannot be extracted: " + refusal);
  }
  const std::string collision = OutputFolder::Collision(names);
  if (!collision.empty()) faults.Report("files " + collision);
  // A rewrite keeps only the later record of each.
  for (const std::string& key : DuplicateKeys(package))
    faults.Report(key + " is stored more than once; only the later record is read");
}

int Run(const std::string& path) {
  Faults faults(path);
  LoadedPackage loaded;
  try {
    loaded = LoadPackage(path);
  } catch (const ToolError& e) {
    // A file that opens but does not read as a package is a fault of the
    // package; one that cannot be opened at all is unreadable input.
    if (std::string(e.what()).find(kNotAPackage) == std::string::npos) throw;
    std::cout << Shown(e.what()) << "\n";
    return kExitFaults;
  }
  if (loaded.trailingBytes > 0)
    faults.Report(std::to_string(loaded.trailingBytes) + " bytes after the last section");
  if (loaded.package->GetFormCount() == 0) faults.Report("holds no form");
  {
    // Decoding is the long part: counted by the bytes each form stores.
    const auto stored = [](const CPackageForm& form) {
      return static_cast<uint64_t>(std::max(0, form.GetSWFSize())) +
             static_cast<uint64_t>(std::max(0, form.GetSaverPreviewSize())) +
             static_cast<uint64_t>(std::max(0, form.GetSaverSettingsSize())) +
             static_cast<uint64_t>(std::max(0, form.GetPackedMaskSize()));
    };
    uint64_t total = 0;
    for (int i = 0; i < loaded.package->GetFormCount(); ++i) total += stored(*loaded.package->GetForm(i));
    Progress progress("verifying", total);
    for (int i = 0; i < loaded.package->GetFormCount(); ++i) {
      CheckForm(faults, *loaded.package->GetForm(i), "form " + std::to_string(i));
      progress.Advance(stored(*loaded.package->GetForm(i)));
    }
  }
  CheckSections(faults, *loaded.package);
  if (faults.Count() > 0) return kExitFaults;
  std::cout << Shown(path) << ": ok\n";
  return kExitOk;
}

}  // namespace

Subcommand AddVerifyCommand(CLI::App& program) {
  auto package = std::make_shared<std::string>();
  CLI::App* app = program.add_subcommand(
      "verify",
      "Read everything and decode every program and resource; print one line per fault.\n"
      "Programs must start with an SWF signature (FWS, CWS or ZWS) and a length they hold;\n"
      "resources must inflate to their recorded size");
  app->add_option("PKG", *package, "Package file")->required();
  app->footer(HelpFooter("vello verify vello.dat"));
  return {app, [package] { return Run(*package); }};
}
