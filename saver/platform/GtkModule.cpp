#include "saver/platform/GtkModule.h"

#include <dlfcn.h>

#include <filesystem>
#include <iostream>

#include "saver/platform/TerminalText.h"
#include "saver/platform/WindowHost.h"
#include "system/ResourcePath.h"

std::string GtkModulePathFor(const std::string& programFolder) {
  // A bare name would send dlopen searching the library path.
  if (programFolder.empty()) return {};
  const std::filesystem::path folder(programFolder);
  if (folder.filename() == "bin")
    return (folder / LUMETTA_GTK_MODULE_FROM_BIN / kWindowLayerModuleName).lexically_normal().string();
  return (folder / kWindowLayerModuleName).string();
}

namespace {

// The loader's last error. glibc keeps its text in a buffer of the thread's
// own until dlerror is called again: called again here, so that a run
// refused this way leaves nothing behind for the leak checker.
std::string TakeLoaderError() {
  const char* text = dlerror();
  std::string error = text != nullptr ? text : "";
  dlerror();
  return error;
}

}  // namespace

const WindowLayerEntry* LoadWindowLayer(const std::string& path) {
  // Never closed: the toolkit's libraries are not made to be unloaded.
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    std::cerr << "lumetta: cannot load the window layer: " << Printable(TakeLoaderError())
              << "\nTry 'lumetta --platform headless'.\n";
    return nullptr;
  }
  const auto* entry = static_cast<const WindowLayerEntry*>(dlsym(module, kWindowLayerEntryName));
  if (entry == nullptr) {
    std::cerr << "lumetta: " << Printable(path) << " is not lumetta's window layer: "
              << Printable(TakeLoaderError()) << "\n";
    return nullptr;
  }
  // A module from another build of lumetta (an upgrade half done) would
  // read the options or call the host at the wrong places.
  if (entry->abi != kWindowLayerAbi) {
    std::cerr << "lumetta: the window layer " << Printable(path) << " has ABI " << entry->abi
              << ", this program needs ABI " << kWindowLayerAbi << "\n";
    return nullptr;
  }
  return entry;
}

int RunGtkModule(const LumettaOptions& options) {
  const std::string path = GtkModulePathFor(ProgramFolder());
  if (path.empty()) {
    std::cerr << "lumetta: cannot find the window layer: where this program lies is not known "
                 "(/proc/self/exe)\n";
    return 1;
  }
  const WindowLayerEntry* entry = LoadWindowLayer(path);
  return entry != nullptr ? RunWindowLayer(*entry, options) : 1;
}
