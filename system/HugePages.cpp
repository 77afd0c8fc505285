#include "system/HugePages.h"

#include <sys/mman.h>

#include <cstdint>

namespace {

constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
// Below this a buffer holds too few huge pages to be worth the call.
constexpr std::size_t kWorthwhile = 8 << 20;

}  // namespace

void AdviseHugePages(void* buffer, std::size_t length) {
#ifdef MADV_HUGEPAGE
  if (buffer == nullptr || length < kWorthwhile) return;
  const auto start = reinterpret_cast<std::uintptr_t>(buffer);
  const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t end = (start + length) & ~(kHugePage - 1);
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
  (void)buffer;
  (void)length;
#endif
}
