#include "system/SysEndian.h"

#include <bit>
#include <cstdint>

namespace {

constexpr uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }

constexpr uint32_t Swap32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}

static_assert(std::endian::native == std::endian::little ||
                  std::endian::native == std::endian::big,
              "mixed-endian hosts are not supported");

// The package format is little-endian: only big-endian hosts swap.
template <typename T>
T ToOrFromLittle(T value) {
  if constexpr (std::endian::native == std::endian::little) {
    return value;
  } else if constexpr (sizeof(T) == 2) {
    return static_cast<T>(Swap16(static_cast<uint16_t>(value)));
  } else {
    static_assert(sizeof(T) == 4);
    return static_cast<T>(Swap32(static_cast<uint32_t>(value)));
  }
}

static_assert(Swap16(0x1234) == 0x3412 && Swap32(0x12345678u) == 0x78563412u);

}  // namespace

CSysEndian& CSysEndian::GetSingleton() {
  static CSysEndian instance;
  return instance;
}

short CSysEndian::LittleShortToNative(short value) const { return ToOrFromLittle(value); }
short CSysEndian::NativeShortToLittle(short value) const { return ToOrFromLittle(value); }
unsigned int CSysEndian::LittleUIntToNative(unsigned int value) const { return ToOrFromLittle(value); }
unsigned int CSysEndian::NativeUIntToLittle(unsigned int value) const { return ToOrFromLittle(value); }
int CSysEndian::LittleIntToNative(int value) const { return ToOrFromLittle(value); }
int CSysEndian::NativeIntToLittle(int value) const { return ToOrFromLittle(value); }
