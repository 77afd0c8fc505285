// The RFC 4648 decoders on arbitrary text: they either refuse it with
// std::runtime_error or decode it, never touching memory out of bounds, and
// what they decode re-encodes to text that decodes to the same bytes.

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "encryption/BaseDecode.h"
#include "encryption/BaseEncode.h"

namespace {

using Decode = size_t (*)(void*, const void*, size_t);
using DecodeLength = size_t (*)(size_t);
using Encode = size_t (*)(void*, const void*, size_t);
using EncodeLength = size_t (*)(size_t);

void Check(const uint8_t* text, size_t size, DecodeLength decodeLength, Decode decode,
           EncodeLength encodeLength, Encode encode) {
  std::vector<uint8_t> bytes;
  size_t count = 0;
  try {
    bytes.resize(decodeLength(size) + 1);
    count = decode(bytes.data(), text, size);
  } catch (const std::runtime_error&) {
    return;
  }
  if (count > decodeLength(size)) __builtin_trap();
  std::vector<uint8_t> again(encodeLength(count) + 1);
  const size_t length = encode(again.data(), bytes.data(), count);
  std::vector<uint8_t> back(decodeLength(length) + 1);
  const size_t backCount = decode(back.data(), again.data(), length);
  if (backCount != count || std::memcmp(back.data(), bytes.data(), count) != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Check(data, size, BaseDecode::Base16DecodeGetLength, BaseDecode::Base16Decode,
        BaseEncode::Base16EncodeGetLength, BaseEncode::Base16Encode);
  Check(data, size, BaseDecode::Base32DecodeGetLength, BaseDecode::Base32Decode,
        BaseEncode::Base32EncodeGetLength, BaseEncode::Base32Encode);
  Check(data, size, BaseDecode::Base64DecodeGetLength, BaseDecode::Base64Decode,
        BaseEncode::Base64EncodeGetLength, BaseEncode::Base64Encode);
  return 0;
}
