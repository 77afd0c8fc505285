#pragma once

// The sha2 module's block compressions, for its own tests: a portable
// build, and one for hosts with BMI2 and AVX2 (the portable one again on
// other architectures). The module picks one at run time.

#include <cstddef>
#include <cstdint>

#include "encryption/sha2.h"

namespace sha2_detail {

bool HostRunsAccelerated();
void Compress256Portable(uint32_t state[8], const sha2_byte* block, std::size_t blocks);
void Compress512Portable(uint64_t state[8], const sha2_byte* block, std::size_t blocks);
// Only where HostRunsAccelerated() is true.
void Compress256Accelerated(uint32_t state[8], const sha2_byte* block, std::size_t blocks);
void Compress512Accelerated(uint64_t state[8], const sha2_byte* block, std::size_t blocks);

}  // namespace sha2_detail
