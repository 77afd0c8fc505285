#include "tools/vello/SwfCheck.h"

#include <zlib.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Header: signature[3] version:uint8 length:uint32 (the uncompressed file
// length); ZWS adds compressedLength:uint32 props[5] before its body.
constexpr size_t kHeader = 8;
constexpr size_t kLzmaHeader = 17;

uint32_t Le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

std::string Bytes(size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

// Inflates the zlib body to nowhere, counting what it consumes and yields.
bool InflateBody(const unsigned char* body, size_t n, size_t& consumed, uint64_t& produced) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return false;
  std::vector<unsigned char> sink(1 << 16);
  zs.next_in = const_cast<unsigned char*>(body);
  zs.avail_in = static_cast<uInt>(n > UINT_MAX ? UINT_MAX : n);
  int rc = Z_OK;
  produced = 0;
  while (rc == Z_OK) {
    zs.next_out = sink.data();
    zs.avail_out = static_cast<uInt>(sink.size());
    rc = inflate(&zs, Z_NO_FLUSH);
    produced += sink.size() - zs.avail_out;
    if (rc == Z_BUF_ERROR) break;  // input ended before the stream did
  }
  consumed = zs.total_in;
  inflateEnd(&zs);
  return rc == Z_STREAM_END;
}

}  // namespace

SwfCheck CheckSwf(const unsigned char* data, size_t n) {
  SwfCheck result;
  if (n < kHeader) {
    result.problem = "holds " + Bytes(n) + ", shorter than an SWF header";
    return result;
  }
  const bool plain = std::memcmp(data, "FWS", 3) == 0;
  const bool zlib = std::memcmp(data, "CWS", 3) == 0;
  const bool lzma = std::memcmp(data, "ZWS", 3) == 0;
  if (!plain && !zlib && !lzma) {
    char start[16];
    std::snprintf(start, sizeof start, "%02X %02X %02X", data[0], data[1], data[2]);
    result.problem = std::string("has no SWF signature (starts with ") + start + ")";
    return result;
  }
  const uint32_t stated = Le32(data + 4);
  if (stated < kHeader) {
    result.problem = "states a length of " + Bytes(stated) + ", shorter than its own header";
    return result;
  }
  if (plain) {
    result.fileLength = stated;
  } else if (zlib) {
    size_t consumed = 0;
    uint64_t produced = 0;
    if (!InflateBody(data + kHeader, n - kHeader, consumed, produced)) {
      result.problem = "has a zlib body that does not inflate";
      return result;
    }
    if (produced + kHeader != stated) {
      result.problem = "states " + Bytes(stated) + " uncompressed but inflates to " +
                       Bytes(produced + kHeader);
      return result;
    }
    result.fileLength = kHeader + consumed;
  } else {
    if (n < kLzmaHeader) {
      result.problem = "holds " + Bytes(n) + ", shorter than an LZMA SWF header";
      return result;
    }
    result.fileLength = kLzmaHeader + Le32(data + kHeader);
  }
  if (result.fileLength > n)
    result.problem = "states " + Bytes(result.fileLength) + " but holds " + Bytes(n);
  return result;
}
