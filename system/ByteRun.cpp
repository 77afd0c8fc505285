#include "system/ByteRun.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kHugePage = kByteRunPage;
// From this size on a run has its own mapping: the whole pages it rounds
// up to cost less than one huge page more than the bytes. Under the address
// sanitizer every run comes from the heap, where overruns are caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kLarge = SIZE_MAX;
#else
constexpr std::size_t kLarge = kHugePage;
#endif
// Below this a new[] buffer holds too few whole huge pages to be worth
// the call.
constexpr std::size_t kWorthAdvising = 8 << 20;

std::size_t RoundUp(std::size_t n) { return (n + kHugePage - 1) & ~(kHugePage - 1); }

// A mapping of length bytes (a multiple of kHugePage) that starts on a
// kHugePage boundary: a larger one is cut down to it.
void* MapAligned(std::size_t length) {
  const std::size_t spare = length + kHugePage;
  void* raw = mmap(nullptr, spare, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
  if (aligned > start) munmap(raw, aligned - start);
  const std::uintptr_t end = aligned + length;
  if (start + spare > end) munmap(reinterpret_cast<void*>(end), start + spare - end);
  return reinterpret_cast<void*>(aligned);
}

}  // namespace

void* AllocateRunMemory(std::size_t size) {
  if (size >= kLarge) {
    const std::size_t length = RoundUp(size);
    void* mapping = MapAligned(length);
    if (mapping == nullptr) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    madvise(mapping, length, MADV_HUGEPAGE);  // a hint: refused, the pages are small
#endif
    return mapping;
  }
  void* bytes = std::malloc(size == 0 ? 1 : size);
  if (bytes == nullptr) throw std::bad_alloc();
  return bytes;
}

void ReleaseRunMemory(void* memory, std::size_t size) noexcept {
  if (memory == nullptr) return;
  if (size >= kLarge)
    munmap(memory, RoundUp(size));
  else
    std::free(memory);
}

ByteRun NewByteRun(std::size_t size) {
  return ByteRun(static_cast<unsigned char*>(AllocateRunMemory(size)), ByteRunFree{size});
}

void AdviseHugePages(void* buffer, std::size_t length) {
#ifdef MADV_HUGEPAGE
  if (buffer == nullptr || length < kWorthAdvising) return;
  const auto start = reinterpret_cast<std::uintptr_t>(buffer);
  const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t end = (start + length) & ~(kHugePage - 1);
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
  (void)buffer;
  (void)length;
#endif
}
