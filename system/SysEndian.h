#pragma once

// Host order <-> little-endian order for the stream's typed primitives.
class CSysEndian {
 public:
  static CSysEndian& GetSingleton();

  short LittleShortToNative(short value) const;
  short NativeShortToLittle(short value) const;
  unsigned int LittleUIntToNative(unsigned int value) const;
  unsigned int NativeUIntToLittle(unsigned int value) const;
  int LittleIntToNative(int value) const;
  int NativeIntToLittle(int value) const;

 private:
  CSysEndian() = default;
};
