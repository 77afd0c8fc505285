#pragma once

#include <cstddef>

// Asks the kernel to back the whole 2 MiB pages inside a large buffer that
// is about to be filled with huge pages, where it offers them (Linux
// transparent huge pages in "madvise" mode). Filling 64 MiB of fresh
// memory otherwise costs one page fault per 4 KiB, which on virtual
// machines takes longer than copying the bytes. Only a hint: smaller
// buffers, other systems and a refusal change nothing.
void AdviseHugePages(void* buffer, std::size_t length);
