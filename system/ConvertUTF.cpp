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

namespace {

bool IsHighSurrogate(UTF32 ch) { return ch >= UNI_SUR_HIGH_START && ch <= UNI_SUR_HIGH_END; }
bool IsLowSurrogate(UTF32 ch) { return ch >= UNI_SUR_LOW_START && ch <= UNI_SUR_LOW_END; }

// Every routine is one loop over a decoder of its source form and an
// encoder of its target form.
//
// A decoder reads one character at source into ch and the units it took:
// conversionOK, or the result that stops the conversion there (nothing of
// the character converted). `replaced` marks a character written as
// U+FFFD that the conversion still reports as illegal.
// An encoder writes ch at target and advances it, or returns false,
// writing nothing, when ch does not fit.

ConversionResult DecodeUTF32(const UTF32* source, const UTF32*, ConversionFlags flags, UTF32& ch,
                             int& units, bool& replaced) {
  ch = *source;
  units = 1;
  if (ch > UNI_MAX_LEGAL_UTF32) {
    ch = UNI_REPLACEMENT_CHAR;  // in either mode
    replaced = true;
  } else if (IsSurrogate(ch)) {
    if (flags == strictConversion) return sourceIllegal;
    ch = UNI_REPLACEMENT_CHAR;
  }
  return conversionOK;
}

// Illegal or cut-off sequences stop the conversion in either mode.
ConversionResult DecodeUTF8(const UTF8* source, const UTF8* sourceEnd, ConversionFlags, UTF32& ch,
                            int& units, bool&) {
  const int extra = trailingBytesForUTF8[*source];
  if (extra >= sourceEnd - source) return sourceExhausted;
  if (!isLegalUTF8(source, extra + 1)) return sourceIllegal;
  ch = 0;
  for (int i = 0; i < extra; ++i) ch = (ch + source[i]) << 6;
  ch += source[extra];
  ch -= kOffsets[extra];
  units = extra + 1;
  // The legality check already excludes these; kept so that no routine can
  // emit a non-scalar value whatever the check lets through.
  if (IsSurrogate(ch) || ch > UNI_MAX_LEGAL_UTF32) return sourceIllegal;
  return conversionOK;
}

// A pair is combined; an unpaired surrogate is illegal when strict and
// itself when lenient; a high surrogate as the last unit is cut off.
ConversionResult DecodeUTF16(const UTF16* source, const UTF16* sourceEnd, ConversionFlags flags,
                             UTF32& ch, int& units, bool&) {
  ch = *source;
  units = 1;
  if (IsHighSurrogate(ch)) {
    if (source + 1 >= sourceEnd) return sourceExhausted;
    const UTF32 low = source[1];
    if (IsLowSurrogate(low)) {
      ch = ((ch - UNI_SUR_HIGH_START) << 10) + (low - UNI_SUR_LOW_START) + 0x10000;
      units = 2;
    } else if (flags == strictConversion) {
      return sourceIllegal;
    }
  } else if (IsLowSurrogate(ch) && flags == strictConversion) {
    return sourceIllegal;
  }
  return conversionOK;
}

bool EncodeUTF32(UTF32 ch, UTF32*& target, UTF32* targetEnd) {
  if (target >= targetEnd) return false;
  *target++ = ch;
  return true;
}

bool EncodeUTF8(UTF32 ch, UTF8*& target, UTF8* targetEnd) {
  const int length = ch < 0x80 ? 1 : ch < 0x800 ? 2 : ch < 0x10000 ? 3 : 4;
  if (targetEnd - target < length) return false;
  // Continuation bytes from the last one back, six bits each; the lead
  // byte takes what is left under its mark.
  for (int i = length - 1; i > 0; --i) {
    target[i] = static_cast<UTF8>((ch & 0x3F) | 0x80);
    ch >>= 6;
  }
  target[0] = static_cast<UTF8>(ch | firstByteMark[length]);
  target += length;
  return true;
}

// A supplementary character becomes a pair, written whole or not at all.
bool EncodeUTF16(UTF32 ch, UTF16*& target, UTF16* targetEnd) {
  const int length = ch <= UNI_MAX_BMP ? 1 : 2;
  if (targetEnd - target < length) return false;
  if (length == 1) {
    *target++ = static_cast<UTF16>(ch);
    return true;
  }
  ch -= 0x10000;
  *target++ = static_cast<UTF16>((ch >> 10) + UNI_SUR_HIGH_START);
  *target++ = static_cast<UTF16>((ch & 0x3FF) + UNI_SUR_LOW_START);
  return true;
}

template <typename In, typename Out, typename Decoder, typename Encoder>
ConversionResult Convert(const In** sourceStart, const In* sourceEnd, Out** targetStart,
                         Out* targetEnd, ConversionFlags flags, Decoder decode, Encoder encode) {
  ConversionResult result = conversionOK;
  const In* source = *sourceStart;
  Out* target = *targetStart;
  while (source < sourceEnd) {
    UTF32 ch = 0;
    int units = 1;
    bool replaced = false;
    const ConversionResult stop = decode(source, sourceEnd, flags, ch, units, replaced);
    if (stop != conversionOK) {
      result = stop;
      break;
    }
    if (!encode(ch, target, targetEnd)) {
      result = targetExhausted;
      break;
    }
    source += units;
    if (replaced) result = sourceIllegal;
  }
  *sourceStart = source;
  *targetStart = target;
  return result;
}

}  // namespace

ConversionResult ConvertUTF32toUTF8(const UTF32** sourceStart, const UTF32* sourceEnd,
                                    UTF8** targetStart, UTF8* targetEnd, ConversionFlags flags) {
  return Convert(sourceStart, sourceEnd, targetStart, targetEnd, flags, DecodeUTF32, EncodeUTF8);
}

ConversionResult ConvertUTF8toUTF32(const UTF8** sourceStart, const UTF8* sourceEnd,
                                    UTF32** targetStart, UTF32* targetEnd, ConversionFlags flags) {
  return Convert(sourceStart, sourceEnd, targetStart, targetEnd, flags, DecodeUTF8, EncodeUTF32);
}

ConversionResult ConvertUTF32toUTF16(const UTF32** sourceStart, const UTF32* sourceEnd,
                                     UTF16** targetStart, UTF16* targetEnd,
                                     ConversionFlags flags) {
  return Convert(sourceStart, sourceEnd, targetStart, targetEnd, flags, DecodeUTF32, EncodeUTF16);
}

ConversionResult ConvertUTF16toUTF32(const UTF16** sourceStart, const UTF16* sourceEnd,
                                     UTF32** targetStart, UTF32* targetEnd,
                                     ConversionFlags flags) {
  return Convert(sourceStart, sourceEnd, targetStart, targetEnd, flags, DecodeUTF16, EncodeUTF32);
}

ConversionResult ConvertUTF16toUTF8(const UTF16** sourceStart, const UTF16* sourceEnd,
                                    UTF8** targetStart, UTF8* targetEnd, ConversionFlags flags) {
  return Convert(sourceStart, sourceEnd, targetStart, targetEnd, flags, DecodeUTF16, EncodeUTF8);
}

ConversionResult ConvertUTF8toUTF16(const UTF8** sourceStart, const UTF8* sourceEnd,
                                    UTF16** targetStart, UTF16* targetEnd, ConversionFlags flags) {
  return Convert(sourceStart, sourceEnd, targetStart, targetEnd, flags, DecodeUTF8, EncodeUTF16);
}

Boolean isLegalUTF8Sequence(const UTF8* source, const UTF8* sourceEnd) {
  if (source >= sourceEnd) return false;
  const int length = trailingBytesForUTF8[*source] + 1;
  if (length > sourceEnd - source) return false;
  return isLegalUTF8(source, length);
}
