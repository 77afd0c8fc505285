#pragma once

// Builds package records byte by byte, independently of the library's
// writers, so that tests can check the readers against the file layout.

#include <cstdint>
#include <string>
#include <vector>

namespace recordbytes {

using Bytes = std::vector<uint8_t>;

inline void Int(Bytes& out, int32_t value) {
  const auto u = static_cast<uint32_t>(value);
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(u >> shift));
}

inline void Bool(Bytes& out, bool value) { Int(out, value ? 1 : 0); }

inline void Raw(Bytes& out, const Bytes& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

// A scrambled string record of ASCII text (its UTF-8 bytes are the text).
inline void String(Bytes& out, const std::string& ascii) {
  Int(out, static_cast<int32_t>(ascii.size()));
  const size_t full = ascii.size() / 512 * 512;
  for (size_t i = 0; i < ascii.size(); ++i) {
    const size_t n = i < full ? 512 : ascii.size() - full;
    const size_t j = i % 512;
    out.push_back(static_cast<uint8_t>(ascii[i] ^ ((33 * j + n + 146) % 256)));
  }
}

// The keyless scramble of stored programs with constant k.
inline Bytes Scrambled(const Bytes& plain, int k) {
  Bytes out(plain);
  const auto length = static_cast<int64_t>(plain.size());
  for (int64_t i = 0; i < length; ++i) out[i] ^= static_cast<uint8_t>((length + 33 * i + k) % 256);
  return out;
}

inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The fields of a form record that tests set; the others are written with
// recognisable values derived from their position.
struct Form {
  std::string string1 = "s1";
  std::string string2 = "s2";
  Bytes swf;              // stored bytes
  Bytes mask;             // stored bytes
  int32_t unpackedMask = 0;
  std::string name = "named";
  Bytes preview;          // stored bytes
  Bytes settings;         // stored bytes
  Bytes keyText;          // stored bytes
  int32_t swfVersion = 9;
  bool flag11 = false;
  bool flag13 = true;
};

// Ints 1..20 hold 100 + n; flags 1..10 and 12 alternate starting with true.
inline Bytes FormRecord(int version, const Form& f) {
  Bytes out;
  Int(out, version);
  String(out, f.string1);
  Bool(out, true);                                   // flag 1
  for (int n = 1; n <= 7; ++n) Int(out, 100 + n);    // ints 1-7
  for (int n = 2; n <= 4; ++n) Bool(out, n % 2 == 1);
  Int(out, 108);
  for (int n = 5; n <= 8; ++n) Bool(out, n % 2 == 1);
  for (int n = 9; n <= 14; ++n) Int(out, 100 + n);
  String(out, f.string2);
  Bool(out, true);   // flag 9
  Bool(out, false);  // flag 10
  Int(out, static_cast<int32_t>(f.swf.size()));
  Raw(out, f.swf);
  if (version >= 2) {
    Int(out, static_cast<int32_t>(f.mask.size()));
    Int(out, f.unpackedMask);
    Raw(out, f.mask);
  }
  if (version >= 3) Int(out, 0x7FFFFFF3);  // uint 1
  if (version >= 4) Bool(out, f.flag11);
  if (version >= 5)
    for (int n = 15; n <= 17; ++n) Int(out, 100 + n);
  if (version >= 6) String(out, f.name);
  if (version >= 7) Int(out, 118);
  if (version >= 8) {
    Int(out, static_cast<int32_t>(f.preview.size()));
    Raw(out, f.preview);
    Int(out, static_cast<int32_t>(f.settings.size()));
    Raw(out, f.settings);
  }
  if (version >= 9) {
    Bool(out, true);  // flag 12
    Int(out, 0x12345678);  // uint 2
  }
  if (version >= 10) {
    Int(out, 119);
    Int(out, 120);
  }
  if (version >= 11) {
    Int(out, static_cast<int32_t>(f.keyText.size()));
    Raw(out, f.keyText);
  }
  if (version >= 12) Int(out, f.swfVersion);
  if (version >= 14) Bool(out, f.flag13);
  return out;
}

// Header with recognisable values.
inline Bytes PackageHeader(int version, int formCount) {
  Bytes out;
  Int(out, version);
  Int(out, -1);
  String(out, "header one");
  String(out, "");
  Bool(out, true);
  Bool(out, false);
  Bool(out, true);
  String(out, "header three");
  Int(out, 2);
  Int(out, 3);
  Int(out, 4);
  Int(out, formCount);
  return out;
}

// Every resource section of the newest version, empty.
inline Bytes EmptySections() {
  Bytes out;
  for (int i = 0; i < 4; ++i) Int(out, 0);        // dll, secure vars, files, strings
  for (int i = 0; i < 4; ++i) Int(out, 0);        // option ints
  Bool(out, false);
  String(out, "");
  Bool(out, false);
  Int(out, 0);
  Int(out, 0); Int(out, 0);                        // splash
  String(out, "");
  Int(out, 0); Int(out, 0);                        // tray icon
  Int(out, 0);                                     // global vars
  for (int i = 0; i < 7; ++i) String(out, "");
  Bool(out, false);
  Int(out, 0); Int(out, 0);                        // flash
  Int(out, 0); Int(out, 0);                        // xul
  return out;
}

}  // namespace recordbytes
