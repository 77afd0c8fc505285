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

// What a UTF-32 source value becomes.
enum class Scalar { kKeep, kReplaced, kStop };

Scalar CheckUTF32(UTF32& ch, ConversionFlags flags) {
  if (ch > UNI_MAX_LEGAL_UTF32) {
    ch = UNI_REPLACEMENT_CHAR;  // in either mode, reported as illegal
    return Scalar::kReplaced;
  }
  if (IsSurrogate(ch)) {
    if (flags == strictConversion) return Scalar::kStop;
    ch = UNI_REPLACEMENT_CHAR;
  }
  return Scalar::kKeep;
}

int UTF8Length(UTF32 ch) {
  if (ch < 0x80) return 1;
  if (ch < 0x800) return 2;
  if (ch < 0x10000) return 3;
  return 4;
}

void EncodeUTF8(UTF32 ch, UTF8* target, int length) {
  // Continuation bytes from the last one back, six bits each; the lead
  // byte takes what is left under its mark.
  for (int i = length - 1; i > 0; --i) {
    target[i] = static_cast<UTF8>((ch & 0x3F) | 0x80);
    ch >>= 6;
  }
  target[0] = static_cast<UTF8>(ch | firstByteMark[length]);
}

// One UTF-8 sequence at source: conversionOK with the value and its byte
// count, sourceExhausted when cut off by the end, or sourceIllegal.
ConversionResult DecodeUTF8(const UTF8* source, const UTF8* sourceEnd, UTF32& ch, int& length) {
  const int extra = trailingBytesForUTF8[*source];
  if (extra >= sourceEnd - source) return sourceExhausted;
  if (!isLegalUTF8(source, extra + 1)) return sourceIllegal;
  ch = 0;
  for (int i = 0; i < extra; ++i) ch = (ch + source[i]) << 6;
  ch += source[extra];
  ch -= kOffsets[extra];
  length = extra + 1;
  // The legality check already excludes these; kept so that no caller can
  // ever emit a non-scalar value whatever the check lets through.
  if (IsSurrogate(ch) || ch > UNI_MAX_LEGAL_UTF32) return sourceIllegal;
  return conversionOK;
}

bool IsHighSurrogate(UTF32 ch) { return ch >= UNI_SUR_HIGH_START && ch <= UNI_SUR_HIGH_END; }
bool IsLowSurrogate(UTF32 ch) { return ch >= UNI_SUR_LOW_START && ch <= UNI_SUR_LOW_END; }

// One code point at source: a pair is combined; an unpaired surrogate is
// sourceIllegal when strict and itself when lenient; a high surrogate as
// the last unit is sourceExhausted.
ConversionResult DecodeUTF16(const UTF16* source, const UTF16* sourceEnd, ConversionFlags flags,
                             UTF32& ch, int& units) {
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

// Writes ch as one unit or a surrogate pair; false when it does not fit.
bool EncodeUTF16(UTF32 ch, UTF16*& target, UTF16* targetEnd) {
  if (ch <= UNI_MAX_BMP) {
    if (target >= targetEnd) return false;
    *target++ = static_cast<UTF16>(ch);
    return true;
  }
  if (targetEnd - target < 2) return false;
  ch -= 0x10000;
  *target++ = static_cast<UTF16>((ch >> 10) + UNI_SUR_HIGH_START);
  *target++ = static_cast<UTF16>((ch & 0x3FF) + UNI_SUR_LOW_START);
  return true;
}

}  // namespace

ConversionResult ConvertUTF32toUTF8(const UTF32** sourceStart, const UTF32* sourceEnd,
                                    UTF8** targetStart, UTF8* targetEnd,
                                    ConversionFlags flags) {
  ConversionResult result = conversionOK;
  const UTF32* source = *sourceStart;
  UTF8* target = *targetStart;
  while (source < sourceEnd) {
    UTF32 ch = *source;
    const Scalar verdict = CheckUTF32(ch, flags);
    if (verdict == Scalar::kStop) {
      result = sourceIllegal;
      break;
    }
    const int length = UTF8Length(ch);
    if (targetEnd - target < length) {
      result = targetExhausted;
      break;
    }
    EncodeUTF8(ch, target, length);
    target += length;
    ++source;
    if (verdict == Scalar::kReplaced) result = sourceIllegal;
  }
  *sourceStart = source;
  *targetStart = target;
  return result;
}

ConversionResult ConvertUTF8toUTF32(const UTF8** sourceStart, const UTF8* sourceEnd,
                                    UTF32** targetStart, UTF32* targetEnd,
                                    ConversionFlags) {
  ConversionResult result = conversionOK;
  const UTF8* source = *sourceStart;
  UTF32* target = *targetStart;
  while (source < sourceEnd) {
    UTF32 ch;
    int length;
    result = DecodeUTF8(source, sourceEnd, ch, length);
    if (result != conversionOK) break;
    if (target >= targetEnd) {
      result = targetExhausted;
      break;
    }
    *target++ = ch;
    source += length;
  }
  *sourceStart = source;
  *targetStart = target;
  return result;
}

ConversionResult ConvertUTF32toUTF16(const UTF32** sourceStart, const UTF32* sourceEnd,
                                     UTF16** targetStart, UTF16* targetEnd,
                                     ConversionFlags flags) {
  ConversionResult result = conversionOK;
  const UTF32* source = *sourceStart;
  UTF16* target = *targetStart;
  while (source < sourceEnd) {
    UTF32 ch = *source;
    const Scalar verdict = CheckUTF32(ch, flags);
    if (verdict == Scalar::kStop) {
      result = sourceIllegal;
      break;
    }
    if (!EncodeUTF16(ch, target, targetEnd)) {
      result = targetExhausted;
      break;
    }
    ++source;
    if (verdict == Scalar::kReplaced) result = sourceIllegal;
  }
  *sourceStart = source;
  *targetStart = target;
  return result;
}

ConversionResult ConvertUTF16toUTF32(const UTF16** sourceStart, const UTF16* sourceEnd,
                                     UTF32** targetStart, UTF32* targetEnd,
                                     ConversionFlags flags) {
  ConversionResult result = conversionOK;
  const UTF16* source = *sourceStart;
  UTF32* target = *targetStart;
  while (source < sourceEnd) {
    UTF32 ch;
    int units;
    result = DecodeUTF16(source, sourceEnd, flags, ch, units);
    if (result != conversionOK) break;
    if (target >= targetEnd) {
      result = targetExhausted;
      break;
    }
    *target++ = ch;
    source += units;
  }
  *sourceStart = source;
  *targetStart = target;
  return result;
}

ConversionResult ConvertUTF16toUTF8(const UTF16** sourceStart, const UTF16* sourceEnd,
                                    UTF8** targetStart, UTF8* targetEnd,
                                    ConversionFlags flags) {
  ConversionResult result = conversionOK;
  const UTF16* source = *sourceStart;
  UTF8* target = *targetStart;
  while (source < sourceEnd) {
    UTF32 ch;
    int units;
    result = DecodeUTF16(source, sourceEnd, flags, ch, units);
    if (result != conversionOK) break;
    const int length = UTF8Length(ch);
    if (targetEnd - target < length) {
      result = targetExhausted;
      break;
    }
    EncodeUTF8(ch, target, length);
    target += length;
    source += units;
  }
  *sourceStart = source;
  *targetStart = target;
  return result;
}

ConversionResult ConvertUTF8toUTF16(const UTF8** sourceStart, const UTF8* sourceEnd,
                                    UTF16** targetStart, UTF16* targetEnd,
                                    ConversionFlags) {
  ConversionResult result = conversionOK;
  const UTF8* source = *sourceStart;
  UTF16* target = *targetStart;
  while (source < sourceEnd) {
    UTF32 ch;
    int length;
    result = DecodeUTF8(source, sourceEnd, ch, length);
    if (result != conversionOK) break;
    if (!EncodeUTF16(ch, target, targetEnd)) {
      result = targetExhausted;
      break;
    }
    source += length;
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
