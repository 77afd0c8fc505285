#pragma once

// Base16, Base32 and Base64 encoders of RFC 4648: upper-case hexadecimal,
// the standard alphabets, "=" padding to whole groups, no line breaks and
// no terminating NUL. Size the destination with the matching GetLength.
// Errors are thrown as std::runtime_error carrying the texts below.

#include <cstddef>

namespace BaseEncode {

constexpr std::size_t BASE16_INPUT = 1;
constexpr std::size_t BASE16_OUTPUT = 2;
constexpr std::size_t BASE32_INPUT = 5;
constexpr std::size_t BASE32_OUTPUT = 8;
constexpr std::size_t BASE64_INPUT = 3;
constexpr std::size_t BASE64_OUTPUT = 4;

// Digits, then the pad character (Base32 and Base64).
extern const char BASE16_TABLE[];
extern const char BASE32_TABLE[];
extern const char BASE64_TABLE[];

extern const char c_pszErrorInvalidParameter[];  // "Invalid parameter"

// Characters for `size` bytes; "Invalid parameter" if that overflows.
std::size_t Base16EncodeGetLength(std::size_t size);
std::size_t Base32EncodeGetLength(std::size_t size);
std::size_t Base64EncodeGetLength(std::size_t size);

// Write the encoding of `size` bytes of `src` to `dest` and return the
// character count (the GetLength value). Null `dest` or `src` raises
// "Invalid parameter", even for a size of 0.
std::size_t Base16Encode(void* dest, const void* src, std::size_t size);
std::size_t Base32Encode(void* dest, const void* src, std::size_t size);
std::size_t Base64Encode(void* dest, const void* src, std::size_t size);

}  // namespace BaseEncode
