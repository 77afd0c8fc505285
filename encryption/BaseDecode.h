#pragma once

// Base16, Base32 and Base64 decoders of RFC 4648 canonical text.
//
// GetLength gives the room a decode needs (whole groups), not the decoded
// count: each group writes all its bytes, and the decode call returns the
// count less what padding stands for. Base16 and Base32 accept lower-case
// letters; Base64 is case-sensitive.
//
// Text outside the canonical form is refused with std::runtime_error:
// characters of 128 and above or outside the alphabet (white space
// included), a pad among the first two characters of a group, a digit after
// a pad, pad runs of other lengths than Base64's one or two and Base32's
// one, three, four or six, and padding in any group but the last. On such
// an error the destination bytes already written are cleared.

#include <cstddef>

namespace BaseDecode {

constexpr std::size_t BASE16_INPUT = 2;
constexpr std::size_t BASE16_OUTPUT = 1;
constexpr std::size_t BASE32_INPUT = 8;
constexpr std::size_t BASE32_OUTPUT = 5;
constexpr std::size_t BASE64_INPUT = 4;
constexpr std::size_t BASE64_OUTPUT = 3;

// Indexed by a 7-bit character: the digit's value, the pad's (32 in Base32,
// 64 in Base64), or 0xFF outside the alphabet.
extern const unsigned char BASE16_TABLE[128];
extern const unsigned char BASE32_TABLE[128];
extern const unsigned char BASE64_TABLE[128];

extern const char c_pszErrorInvalidParameter[];  // "Invalid parameter"
extern const char c_pszErrorNotMultipleOf2[];    // "Invalid source, size is not a multiple of 2"
extern const char c_pszErrorNotMultipleOf4[];    // "Invalid source, size is not a multiple of 4"
extern const char c_pszErrorNotMultipleOf8[];    // "Invalid source, size is not a multiple of 8"

std::size_t Base16DecodeGetLength(std::size_t size);  // size / 2
std::size_t Base32DecodeGetLength(std::size_t size);  // size / 8 * 5
std::size_t Base64DecodeGetLength(std::size_t size);  // size / 4 * 3

// Decode `size` characters of `src` into `dest` (GetLength bytes of room)
// and return the number of bytes decoded, padding excluded. Checks, in
// order: null pointers ("Invalid parameter"), then the group multiple.
std::size_t Base16Decode(void* dest, const void* src, std::size_t size);
std::size_t Base32Decode(void* dest, const void* src, std::size_t size);
std::size_t Base64Decode(void* dest, const void* src, std::size_t size);

}  // namespace BaseDecode
