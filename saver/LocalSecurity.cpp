#include "saver/LocalSecurity.h"

#include <dlfcn.h>

bool CallModuleFunction(const char* modulePath, const char* functionName) {
  // Never closed: the plug-in keeps running inside the web view, and the
  // switch it threw must stay thrown.
  void* module = dlopen(modulePath, RTLD_LAZY | RTLD_LOCAL);
  if (module == nullptr) return false;
  void* symbol = dlsym(module, functionName);
  if (symbol == nullptr) return false;
  using Switch = void (*)();
  reinterpret_cast<Switch>(symbol)();
  return true;
}
