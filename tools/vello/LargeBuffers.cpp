// The program holds whole programs in memory, in buffers of many megabytes
// that are touched once. Backed by 4 KiB pages, each page's first touch
// costs a fault, which dominates the time of the commands that hold them;
// backed by transparent huge pages there are 512 times fewer. The
// library's own byte runs take huge pages by themselves (system/ByteRun.h)
// and extract writes them without copies; what is left are the vectors and
// strings of the other commands (the main program that verify checks, the
// Base64 text and payload of a protected pack), so the program's large
// allocations still ask for huge pages. Small ones take the usual path;
// everything is released with free().

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <new>

#if !defined(__SANITIZE_ADDRESS__)

namespace {

constexpr std::size_t kHugePage = 2u << 20;
constexpr std::size_t kLarge = 4u << 20;

void* Allocate(std::size_t n) {
  if (n >= kLarge) {
    const std::size_t rounded = (n + kHugePage - 1) / kHugePage * kHugePage;
    if (void* p = std::aligned_alloc(kHugePage, rounded)) {
      madvise(p, rounded, MADV_HUGEPAGE);  // a hint: refused, the pages are small
      return p;
    }
    return nullptr;
  }
  return std::malloc(n == 0 ? 1 : n);
}

}  // namespace

void* operator new(std::size_t n) {
  if (void* p = Allocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

#endif
