#pragma once

#include <cstddef>
#include <memory>

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

// Releases a run made by NewByteRun: a large one is unmapped (its mapping
// length is kept here), a small one goes back to the heap.
struct ByteRunFree {
  std::size_t mapped = 0;
  void operator()(unsigned char* bytes) const noexcept;
};
using ByteRun = std::unique_ptr<unsigned char[], ByteRunFree>;

// size bytes, not initialised (size 0 still gives a pointer). Throws
// std::bad_alloc when the memory cannot be had, as new[] does.
ByteRun NewByteRun(std::size_t size);

// For a buffer that must come from new[] (one handed to a caller who
// releases it with delete[]): advises the whole 2 MiB pages inside it. A
// hint only; small buffers, other systems and a refusal change nothing.
void AdviseHugePages(void* buffer, std::size_t length);
