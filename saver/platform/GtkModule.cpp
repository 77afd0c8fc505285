#include "saver/platform/GtkModule.h"

#include <dlfcn.h>

#include <filesystem>
#include <iostream>

#include "saver/platform/TerminalText.h"
#include "system/ResourcePath.h"

std::string GtkModulePathFor(const std::string& programFolder) {
  // A bare name would send dlopen searching the library path.
  if (programFolder.empty()) return {};
  const std::filesystem::path folder(programFolder);
  if (folder.filename() == "bin")
    return (folder / LUMETTA_GTK_MODULE_FROM_BIN / kGtkModuleName).lexically_normal().string();
  return (folder / kGtkModuleName).string();
}

int RunGtkModule(const LumettaOptions& options) {
  const std::string path = GtkModulePathFor(ProgramFolder());
  if (path.empty()) {
    std::cerr << "lumetta: cannot find the window layer: where this program lies is not known "
                 "(/proc/self/exe)\n";
    return 1;
  }
  // Never closed: the toolkit's libraries are not made to be unloaded.
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    std::cerr << "lumetta: cannot load the window layer: " << Printable(dlerror())
              << "\nTry 'lumetta --platform headless'.\n";
    return 1;
  }
  const auto run = reinterpret_cast<GtkModuleEntry>(dlsym(module, kGtkModuleEntry));
  if (run == nullptr) {
    std::cerr << "lumetta: " << Printable(path) << " is not lumetta's window layer: "
              << Printable(dlerror()) << "\n";
    return 1;
  }
  return run(options);
}
