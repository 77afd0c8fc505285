#include "system/ConvertUTF.h"

#include <array>

namespace {

constexpr std::array<UTF8, 7> kFirstByteMark = {0x00, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};

// A sequence of k + 1 bytes decoded by "sum, shift by 6, add the next byte"
// carries the lead mark shifted by 6k and each continuation mark 0x80
// shifted by its place; subtracting this constant removes them all.
// (The 6-byte entry wraps around 32 bits, as the decoder's sum does.)
constexpr std::array<UTF32, 6> MakeOffsets() {
  std::array<UTF32, 6> table{};
  for (int k = 0; k < 6; ++k) {
    UTF32 sum = static_cast<UTF32>(static_cast<uint64_t>(kFirstByteMark[k + 1]) << (6 * k));
    for (int i = 0; i < k; ++i) sum += static_cast<UTF32>(0x80u) << (6 * i);
    table[k] = sum;
  }
  return table;
}

constexpr auto kOffsets = MakeOffsets();
static_assert(kOffsets[1] == 0x3080 && kOffsets[3] == 0x03C82080 && kOffsets[5] == 0x82082080);

bool IsSurrogate(UTF32 ch) { return ch >= UNI_SUR_HIGH_START && ch <= UNI_SUR_LOW_END; }

// Legality of one complete sequence of `length` bytes (length from the
// lead byte's table entry). Rejects every form RFC 3629 forbids.
bool isLegalUTF8(const UTF8* source, int length) {
  if (length < 1 || length > 4) return false;  // 5- and 6-byte forms
  for (int i = 1; i < length; ++i)
    if (source[i] < 0x80 || source[i] > 0xBF) return false;
  const UTF8 lead = source[0];
  if (length == 1) return lead < 0x80;  // stray continuation bytes (0x80..0xBF)
  const UTF8 second = source[1];
  switch (lead) {
    case 0xE0: if (second < 0xA0) return false; break;  // overlong 3-byte form
    case 0xED: if (second > 0x9F) return false; break;  // encoded surrogates
    case 0xF0: if (second < 0x90) return false; break;  // overlong 4-byte form
    case 0xF4: if (second > 0x8F) return false; break;  // above U+10FFFF
    default: break;
  }
  if (lead < 0xC2) return false;  // C0 and C1 only make overlong 2-byte forms
  if (lead > 0xF4) return false;
  return true;
}

}  // namespace

const char trailingBytesForUTF8[256] = {
#define ROW(v) v, v, v, v, v, v, v, v, v, v, v, v, v, v, v, v
    ROW(0), ROW(0), ROW(0), ROW(0), ROW(0), ROW(0), ROW(0), ROW(0),  // 00..7F
    ROW(0), ROW(0), ROW(0), ROW(0),                                  // 80..BF
    ROW(1), ROW(1),                                                  // C0..DF
    ROW(2),                                                          // E0..EF
    3, 3, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5                   // F0..FF
#undef ROW
};
const UTF32 offsetsFromUTF8[6] = {kOffsets[0], kOffsets[1], kOffsets[2],
                                  kOffsets[3], kOffsets[4], kOffsets[5]};
const UTF8 firstByteMark[7] = {kFirstByteMark[0], kFirstByteMark[1], kFirstByteMark[2],
                               kFirstByteMark[3], kFirstByteMark[4], kFirstByteMark[5],
                               kFirstByteMark[6]};

ConversionResult ConvertUTF32toUTF8(const UTF32** sourceStart, const UTF32* sourceEnd,
                                    UTF8** targetStart, UTF8* targetEnd,
                                    ConversionFlags flags) {
  ConversionResult result = conversionOK;
  const UTF32* source = *sourceStart;
  UTF8* target = *targetStart;
  while (source < sourceEnd) {
    UTF32 ch = *source;
    if (IsSurrogate(ch) || ch > UNI_MAX_LEGAL_UTF32) {
      if (flags == strictConversion) {
        result = sourceIllegal;
        break;
      }
      ch = UNI_REPLACEMENT_CHAR;
    }
    int length;
    if (ch < 0x80) length = 1;
    else if (ch < 0x800) length = 2;
    else if (ch < 0x10000) length = 3;
    else length = 4;
    if (targetEnd - target < length) {
      result = targetExhausted;
      break;
    }
    // Continuation bytes from the last one back, six bits each; the lead
    // byte takes what is left under its mark.
    for (int i = length - 1; i > 0; --i) {
      target[i] = static_cast<UTF8>((ch & 0x3F) | 0x80);
      ch >>= 6;
    }
    target[0] = static_cast<UTF8>(ch | firstByteMark[length]);
    target += length;
    ++source;
  }
  *sourceStart = source;
  *targetStart = target;
  return result;
}

ConversionResult ConvertUTF8toUTF32(const UTF8** sourceStart, const UTF8* sourceEnd,
                                    UTF32** targetStart, UTF32* targetEnd,
                                    ConversionFlags flags) {
  ConversionResult result = conversionOK;
  const UTF8* source = *sourceStart;
  UTF32* target = *targetStart;
  while (source < sourceEnd) {
    const int extra = trailingBytesForUTF8[*source];
    if (extra >= sourceEnd - source) {
      result = sourceExhausted;
      break;
    }
    if (!isLegalUTF8(source, extra + 1)) {
      result = sourceIllegal;
      break;
    }
    if (target >= targetEnd) {
      result = targetExhausted;
      break;
    }
    UTF32 ch = 0;
    for (int i = 0; i < extra; ++i) ch = (ch + source[i]) << 6;
    ch += source[extra];
    ch -= kOffsets[extra];
    // The legality check already excludes these; kept so the routine
    // never emits a non-scalar value whatever the check lets through.
    if (IsSurrogate(ch) || ch > UNI_MAX_LEGAL_UTF32) {
      if (flags == strictConversion) {
        result = sourceIllegal;
        break;
      }
      ch = UNI_REPLACEMENT_CHAR;
    }
    *target++ = ch;
    source += extra + 1;
  }
  *sourceStart = source;
  *targetStart = target;
  return result;
}

Boolean isLegalUTF8Sequence(const UTF8* source, const UTF8* sourceEnd) {
  if (source >= sourceEnd) return false;
  const int length = trailingBytesForUTF8[*source] + 1;
  if (length > sourceEnd - source) return false;
  return isLegalUTF8(source, length);
}
