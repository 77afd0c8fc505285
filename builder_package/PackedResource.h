#pragma once

#include <string>

#include "system/ByteRun.h"

// Compressed, scrambled content (a form's mask; a package's splash, tray
// icon, flash and xul): the zlib stream of a file, then the keyless
// scramble with the content's constant k over the stored bytes.
namespace PackedResource {

// Reads the file at path whole. Once it is read, unpackedSize is its
// length. Compresses it at level into at most that many bytes; true with
// packed and packedSize set to the scrambled stream. False, packed and
// packedSize untouched, when the file cannot be read, is empty or does
// not shrink.
bool Pack(const std::wstring& path, int level, int k, ByteRun& packed,
          int& packedSize, int& unpackedSize);

// True with *out a new array of unpackedSize bytes inflated from the
// packedSize stored bytes. False, outputs untouched, when there are no
// stored bytes, when unpackedSize is beyond what zlib can produce from
// packedSize bytes, or when the stream does not inflate to exactly
// unpackedSize bytes.
bool Unpack(const unsigned char* stored, int packedSize, int unpackedSize, int k,
            unsigned char** out, int& size);

}  // namespace PackedResource
