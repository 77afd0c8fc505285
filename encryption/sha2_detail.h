#pragma once

// The sha2 module's block compressions, listed for its own tests. Each
// variant has a host check; the module runs the first one the host
// supports, and the last, portable one runs anywhere.

#include <cstddef>
#include <cstdint>

#include "encryption/sha2.h"

namespace sha2_detail {

using Compress256Fn = void (*)(uint32_t state[8], const sha2_byte* block, std::size_t blocks);
using Compress512Fn = void (*)(uint64_t state[8], const sha2_byte* block, std::size_t blocks);

template <typename Fn>
struct Variant {
  const char* name;
  bool (*available)();
  Fn compress;
};

extern const Variant<Compress256Fn> kCompress256Variants[];
extern const std::size_t kCompress256VariantCount;
extern const Variant<Compress512Fn> kCompress512Variants[];
extern const std::size_t kCompress512VariantCount;

}  // namespace sha2_detail
