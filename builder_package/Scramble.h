#pragma once

#include <cstddef>

// The keyless byte scramble of stored content: byte i of L bytes is XORed
// with (L + 33*i + k) mod 256. Applying it twice restores the bytes. The
// constant k tells the kinds of content apart.
namespace Scramble {

constexpr int kProgram = 122;  // main, preview and settings programs, mask
constexpr int kKeyText = 63;   // PEM key text of a protected form
constexpr int kBinary = 125;   // binary records
constexpr int kSplash = 182;
constexpr int kTrayIcon = 184;
constexpr int kFlash = 84;
constexpr int kXul = 76;

// The whole content, in place.
void Apply(unsigned char* bytes, int length, int k);

// count bytes of content of length bytes, starting at byte offset of it,
// scrambled from in to out (which may be the same bytes): content can be
// handled a piece at a time.
void ApplyPiece(const unsigned char* in, unsigned char* out, std::size_t count, int length,
                std::size_t offset, int k);

}  // namespace Scramble
