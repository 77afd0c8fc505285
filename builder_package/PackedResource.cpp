#include "builder_package/PackedResource.h"

#include <cstring>

#include <zlib.h>

#include "builder_package/Scramble.h"
#include "system/SysFile.h"

namespace PackedResource {

namespace {

// zlib cannot expand data by more than about 1032:1; a stored unpacked size
// beyond that cannot be genuine and must not drive an allocation.
bool PlausibleUnpackedSize(int packed, int unpacked) {
  return unpacked > 0 && packed > 0 &&
         static_cast<long long>(unpacked) <= static_cast<long long>(packed) * 1032 + 64;
}

}  // namespace

bool Pack(const std::wstring& path, int level, int k, ByteRun& packed,
          int& packedSize, int& unpackedSize) {
  ByteRun source;
  int length = 0;
  if (!CSysFile::ReadRunFromDisk(path, source, length)) return false;
  unpackedSize = length;
  if (length <= 0) return false;

  // Capacity equal to the input: content that does not shrink is refused.
  ByteRun stream = NewByteRun(static_cast<size_t>(length));
  uLongf streamLength = static_cast<uLongf>(length);
  if (compress2(stream.get(), &streamLength, source.get(), static_cast<uLong>(length), level) !=
      Z_OK)
    return false;
  packedSize = static_cast<int>(streamLength);
  Scramble::Apply(stream.get(), packedSize, k);
  packed = std::move(stream);
  return true;
}

bool Unpack(const unsigned char* stored, int packedSize, int unpackedSize, int k,
            unsigned char** out, int& size) {
  if (stored == nullptr || !PlausibleUnpackedSize(packedSize, unpackedSize)) return false;
  ByteRun copy = NewByteRun(static_cast<size_t>(packedSize));
  std::memcpy(copy.get(), stored, static_cast<size_t>(packedSize));
  Scramble::Apply(copy.get(), packedSize, k);

  std::unique_ptr<unsigned char[]> plain(new unsigned char[static_cast<size_t>(unpackedSize)]);
  uLongf plainLength = static_cast<uLongf>(unpackedSize);
  // A stream that inflates to fewer bytes than recorded would hand out
  // bytes nobody wrote.
  if (uncompress(plain.get(), &plainLength, copy.get(), static_cast<uLong>(packedSize)) != Z_OK ||
      plainLength != static_cast<uLongf>(unpackedSize))
    return false;
  *out = plain.release();
  size = unpackedSize;
  return true;
}

}  // namespace PackedResource
