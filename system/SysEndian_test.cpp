#include "system/SysEndian.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

template <typename T>
std::string MemoryBytes(T value) {
  std::string bytes(sizeof value, '\0');
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

// Whatever the host order, a value made little-endian lies in memory least
// significant byte first, and converting back restores it.
TEST(SysEndianTest, LittleOrderInMemoryAndBack) {
  const CSysEndian& e = CSysEndian::GetSingleton();
  EXPECT_EQ(&e, &CSysEndian::GetSingleton());

  EXPECT_EQ(std::string("\x04\x03\x02\x01", 4), MemoryBytes(e.NativeIntToLittle(0x01020304)));
  EXPECT_EQ(std::string("\xFE\xFF\xFF\xFF", 4), MemoryBytes(e.NativeIntToLittle(-2)));
  EXPECT_EQ(std::string("\xD4\xC3\xB2\xA1", 4), MemoryBytes(e.NativeUIntToLittle(0xA1B2C3D4u)));
  EXPECT_EQ(std::string("\x34\x12", 2), MemoryBytes(e.NativeShortToLittle(0x1234)));

  EXPECT_EQ(-2, e.LittleIntToNative(e.NativeIntToLittle(-2)));
  EXPECT_EQ(0xA1B2C3D4u, e.LittleUIntToNative(e.NativeUIntToLittle(0xA1B2C3D4u)));
  EXPECT_EQ(short{-12345}, e.LittleShortToNative(e.NativeShortToLittle(-12345)));

  int fromBytes;
  std::memcpy(&fromBytes, "\x78\x56\x34\x12", 4);
  EXPECT_EQ(0x12345678, e.LittleIntToNative(fromBytes));
}

}  // namespace
