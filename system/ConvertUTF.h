#pragma once

#include <cstdint>

// Conversion between UTF-32, UTF-16 and UTF-8 (RFC 3629). Each routine converts
// from *sourceStart up to sourceEnd into *targetStart up to targetEnd and
// advances both pointers past what it converted. On any result other than
// conversionOK the source pointer is left at the start of the character
// that stopped it, so a caller can resume there.

typedef uint32_t UTF32;  // one Unicode code point
typedef uint16_t UTF16;  // one UTF-16 code unit
typedef uint8_t UTF8;    // one UTF-8 code unit
// Same type as the platform headers' Boolean, so both can be included.
typedef unsigned char Boolean;

#define UNI_REPLACEMENT_CHAR (UTF32)0x0000FFFD
#define UNI_MAX_BMP (UTF32)0x0000FFFF
#define UNI_MAX_LEGAL_UTF32 (UTF32)0x0010FFFF
#define UNI_SUR_HIGH_START (UTF32)0xD800
#define UNI_SUR_HIGH_END (UTF32)0xDBFF
#define UNI_SUR_LOW_START (UTF32)0xDC00
#define UNI_SUR_LOW_END (UTF32)0xDFFF

typedef enum {
  conversionOK = 0,     // everything converted
  sourceExhausted = 1,  // a character is cut off by the end of the source
  targetExhausted = 2,  // no room for the next character
  sourceIllegal = 3     // an illegal sequence or code point
} ConversionResult;

typedef enum {
  strictConversion = 0,  // stop at a surrogate code point or an unpaired surrogate
  lenientConversion = 1  // write U+FFFD for a surrogate code point and go on;
                         // an unpaired UTF-16 surrogate passes through unchanged
} ConversionFlags;

// Rules shared by every routine:
// - A UTF-32 source value above U+10FFFF is written as U+FFFD in either
//   mode; the conversion goes on and ends with sourceIllegal (unless the
//   target runs out later).
// - A surrogate code point in a UTF-32 source stops a strict conversion
//   with sourceIllegal.
// - In a UTF-16 source a high surrogate followed by a low one is one code
//   point. An unpaired surrogate stops a strict conversion with
//   sourceIllegal; a lenient one passes it through unchanged. A high
//   surrogate as the very last unit gives sourceExhausted in either mode.
// - Illegal UTF-8 (see ConvertUTF8toUTF32) is sourceIllegal in either mode.

// Number of continuation bytes announced by each lead byte (0xF8..0xFF
// announce the obsolete 5- and 6-byte forms, which are never legal).
extern const char trailingBytesForUTF8[256];
// What the lead-byte marks and continuation marks add to a sequence of
// (index + 1) bytes when its bytes are summed with 6-bit shifts.
extern const UTF32 offsetsFromUTF8[6];
// Lead-byte mark of a sequence of (index) bytes.
extern const UTF8 firstByteMark[7];

ConversionResult ConvertUTF32toUTF8(const UTF32** sourceStart, const UTF32* sourceEnd,
                                    UTF8** targetStart, UTF8* targetEnd,
                                    ConversionFlags flags);

// Illegal UTF-8 (overlong forms, lead bytes above 0xF4, 5- and 6-byte
// forms, stray continuation bytes, encoded surrogates, values above
// U+10FFFF) is sourceIllegal in either mode.
ConversionResult ConvertUTF8toUTF32(const UTF8** sourceStart, const UTF8* sourceEnd,
                                    UTF32** targetStart, UTF32* targetEnd,
                                    ConversionFlags flags);

ConversionResult ConvertUTF32toUTF16(const UTF32** sourceStart, const UTF32* sourceEnd,
                                     UTF16** targetStart, UTF16* targetEnd,
                                     ConversionFlags flags);
ConversionResult ConvertUTF16toUTF32(const UTF16** sourceStart, const UTF16* sourceEnd,
                                     UTF32** targetStart, UTF32* targetEnd,
                                     ConversionFlags flags);
ConversionResult ConvertUTF16toUTF8(const UTF16** sourceStart, const UTF16* sourceEnd,
                                    UTF8** targetStart, UTF8* targetEnd,
                                    ConversionFlags flags);
ConversionResult ConvertUTF8toUTF16(const UTF8** sourceStart, const UTF8* sourceEnd,
                                    UTF16** targetStart, UTF16* targetEnd,
                                    ConversionFlags flags);

// Whether the sequence that *source announces is complete before
// sourceEnd and legal.
Boolean isLegalUTF8Sequence(const UTF8* source, const UTF8* sourceEnd);
