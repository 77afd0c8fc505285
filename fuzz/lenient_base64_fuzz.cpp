// The lenient Base64 decoder: the incremental decoder, fed the text in
// pieces whose sizes come from the input, gives exactly the bytes of the
// whole-text decoder, and never writes past what it reports.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "encryption/Base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t step = 1 + data[0] % 97;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string whole = Base64::decode(text);

  std::vector<unsigned char> out(Base64::MaxDecodedSize(text.size()) + 16, 0xEE);
  size_t written;
  {
    Base64::Decoder decoder(out.data());
    for (size_t at = 0; at < text.size(); at += step)
      decoder.Feed(reinterpret_cast<const unsigned char*>(text.data()) + at,
                   std::min(step, text.size() - at));
    written = decoder.Finish();
  }
  if (written != whole.size() || std::memcmp(out.data(), whole.data(), written) != 0)
    __builtin_trap();
  for (size_t i = Base64::MaxDecodedSize(text.size()); i < out.size(); ++i)
    if (out[i] != 0xEE) __builtin_trap();
  return 0;
}
