#pragma once

#include <cstdint>
#include <string>

namespace Vello::Encryption {

// Blowfish keyed by a zero-terminated string, enciphering buffers in place
// in ECB mode. A block is two words, each stored little-endian: bytes 0..3
// hold the left word and bytes 4..7 the right one. Stored data depends on
// this order, so it differs from the usual big-endian Blowfish layout.
class Blowfish {
 public:
  using Word = std::uint32_t;

  Blowfish();
  virtual ~Blowfish();  // wipes the key state
  Blowfish(const Blowfish&) = delete;
  Blowfish& operator=(const Blowfish&) = delete;

  // Back to the initial tables (no key).
  void Reset();
  // Reset, then the key schedule unless the key is empty (or null).
  void SetPassword(const char* key);
  // Mixes the key into the current tables; bytes after the 72nd have no
  // effect. Does nothing for an empty (or null) key.
  void GenerateSubkeys(const char* key);

  void BF_En(Word* left, Word* right) const;
  void BF_De(Word* left, Word* right) const;

  // ECB over length / 8 independent blocks. False, buffer untouched, for a
  // null pointer or a length that is 0 or not a multiple of 8.
  bool Encrypt(unsigned char* data, std::uint32_t length) const;
  bool Decrypt(unsigned char* data, std::uint32_t length) const;

  // The text padded with zero bytes to a multiple of 8, enciphered, as
  // Base64. False for a null or empty text.
  bool EncryptString(const char* text, std::string& out) const;
  // Base64 cipher text back to all its plain bytes, zero padding included.
  // False, out unchanged, for a null or empty text or a decoded length that
  // is 0 or not a multiple of 8.
  bool DecryptString(const char* text, std::string& out) const;

  // Checks the two classic reference vectors: 0 when they pass, 1 or 2 for
  // a wrong cipher block of vector 0 or 1, -1 or -2 for a wrong round trip.
  // Leaves the object keyed with vector 1's key.
  int Test();

 private:
  Word m_P[18];
  Word m_S[4][256];
};

}  // namespace Vello::Encryption
