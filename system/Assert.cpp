#include "system/Assert.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace Vello {

void AssertFailed(const char* expression, const char* function,
                  const char* file, int line) {
  // The build maps __FILE__ to a path relative to the checkout; the report
  // names the source without its extension.
  std::string_view source(file);
  // A compiler handed relative source paths (ccache does that when it runs
  // with a base directory) leaves the way up from the build folder in front.
  while (source.starts_with("../")) source.remove_prefix(3);
  if (auto dot = source.rfind('.'); dot != std::string_view::npos &&
                                    source.find('/', dot) == std::string_view::npos)
    source = source.substr(0, dot);
  std::fprintf(stderr, "Assertion failed: (%s), function %s, file %.*s, line %d.\n",
               expression, function, static_cast<int>(source.size()),
               source.data(), line);
  std::fflush(stderr);
  std::abort();
}

}  // namespace Vello
