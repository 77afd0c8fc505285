#pragma once

#include <cstddef>
#include <memory>
#include <vector>

// Memory for the byte runs of package content: programs, resources and
// files of many megabytes, filled once and read once or twice. Fresh
// memory costs a page fault per page on its first touch, which for 4 KiB
// pages (and most of all on virtual machines) takes longer than copying
// the bytes. So a large run takes whole 2 MiB pages of its own, advised
// for transparent huge pages (Linux's "madvise" mode); a run that only
// sat inside such pages would still take 4 KiB faults at both ends.
// Small runs come from the usual heap.

// The huge page: runs of this size or more have whole ones of their own.
constexpr std::size_t kByteRunPage = std::size_t{2} << 20;

// size bytes of run memory, not initialised; throws std::bad_alloc when
// they cannot be had. Released by ReleaseRunMemory with the same size.
void* AllocateRunMemory(std::size_t size);
void ReleaseRunMemory(void* memory, std::size_t size) noexcept;

// Releases a run made by NewByteRun (its size is kept here).
struct ByteRunFree {
  std::size_t size = 0;
  void operator()(unsigned char* bytes) const noexcept { ReleaseRunMemory(bytes, size); }
};
using ByteRun = std::unique_ptr<unsigned char[], ByteRunFree>;

// size bytes, not initialised (size 0 still gives a pointer). Throws
// std::bad_alloc when the memory cannot be had, as new[] does.
ByteRun NewByteRun(std::size_t size);

// Run memory for standard containers that hold content.
template <typename T>
struct RunAllocator {
  using value_type = T;
  RunAllocator() = default;
  template <typename U>
  RunAllocator(const RunAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) { return static_cast<T*>(AllocateRunMemory(n * sizeof(T))); }
  void deallocate(T* p, std::size_t n) noexcept { ReleaseRunMemory(p, n * sizeof(T)); }
  template <typename U>
  bool operator==(const RunAllocator<U>&) const noexcept { return true; }
};
using RunBytes = std::vector<unsigned char, RunAllocator<unsigned char>>;

// For a buffer that must come from new[] (one handed to a caller who
// releases it with delete[]): advises the whole 2 MiB pages inside it. A
// hint only; small buffers, other systems and a refusal change nothing.
void AdviseHugePages(void* buffer, std::size_t length);
