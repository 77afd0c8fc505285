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

// For tests and benchmarks: SHA-512 and SHA-384 run the named variant from
// now on, or the host's first choice again for nullptr. Returns false and
// changes nothing for a name not listed or a variant the host lacks. Not
// to be called while another thread is hashing.
bool UseCompress512(const char* name);
// The name of the variant SHA-512 and SHA-384 run now.
const char* Compress512Name();

}  // namespace sha2_detail
