#pragma once

#include <cstdio>
#include <functional>

// How a package is saved. By default a file at the target is replaced.
struct PackageSaveOptions {
  // False: a file at the target is refused, also one made there while the
  // package is written.
  bool mayReplace = true;
  // Called with the complete new file, open for reading from its start,
  // before it replaces anything: a check of what was written. An exception
  // it throws abandons the save, the target left as it was, and passes on.
  std::function<void(FILE* written)> checkWritten;
};
