#include "builder_package/Scramble.h"

namespace Scramble {

void Apply(unsigned char* bytes, int length, int k) {
  // Only the low 8 bits of L + 33*i + k matter; stepping by 33 mod 256
  // avoids the multiply and any overflow of the signed sum.
  unsigned char mask = static_cast<unsigned char>(length + k);
  for (int i = 0; i < length; ++i, mask = static_cast<unsigned char>(mask + 33))
    bytes[i] ^= mask;
}

}  // namespace Scramble
