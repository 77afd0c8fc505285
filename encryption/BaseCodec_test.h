#pragma once

// The strict Base16, Base32 and Base64 codecs behind one face, their
// coreutils peers, and the published RFC 4648 vectors.

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>

#include "encryption/BaseDecode.h"
#include "encryption/BaseEncode.h"

namespace basecodec {

using CodecFn = std::size_t (*)(void*, const void*, std::size_t);
using LengthFn = std::size_t (*)(std::size_t);

struct Codec {
  const char* name;
  const char* command;  // the coreutils peer
  CodecFn encode;
  LengthFn encodeLength;
  CodecFn decode;
  LengthFn decodeLength;
};

inline const Codec kBase16("Base16", "basenc --base16 -w0", BaseEncode::Base16Encode,
                           BaseEncode::Base16EncodeGetLength, BaseDecode::Base16Decode,
                           BaseDecode::Base16DecodeGetLength);
inline const Codec kBase32("Base32", "base32 -w0", BaseEncode::Base32Encode,
                           BaseEncode::Base32EncodeGetLength, BaseDecode::Base32Decode,
                           BaseDecode::Base32DecodeGetLength);
inline const Codec kBase64("Base64", "base64 -w0", BaseEncode::Base64Encode,
                           BaseEncode::Base64EncodeGetLength, BaseDecode::Base64Decode,
                           BaseDecode::Base64DecodeGetLength);
inline const Codec* const kCodecs[] = {&kBase16, &kBase32, &kBase64};

// RFC 4648 section 10: the bytes, then their Base16, Base32 and Base64.
inline const char* const kRfc4648[][4] = {
    {"", "", "", ""},
    {"f", "66", "MY======", "Zg=="},
    {"fo", "666F", "MZXQ====", "Zm8="},
    {"foo", "666F6F", "MZXW6===", "Zm9v"},
    {"foob", "666F6F62", "MZXW6YQ=", "Zm9vYg=="},
    {"fooba", "666F6F6261", "MZXW6YTB", "Zm9vYmE="},
    {"foobar", "666F6F626172", "MZXW6YTBOI======", "Zm9vYmFy"},
};

// Decodes into exactly GetLength bytes of room (so ASan sees any overrun).
inline std::string Decode(const Codec& c, const std::string& text) {
  const std::size_t room = c.decodeLength(text.size());
  std::unique_ptr<unsigned char[]> out(new unsigned char[room]);
  const std::size_t n = c.decode(out.get(), text.data(), text.size());
  EXPECT_LE(n, room);
  return std::string(reinterpret_cast<char*>(out.get()), n);
}

// The error text of a refused call, or "" when it succeeds.
template <typename Call>
std::string ErrorOf(Call call) {
  try {
    call();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

}  // namespace basecodec
