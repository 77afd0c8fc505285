#pragma once

// Blowfish block cipher engine: 64-bit blocks, 16 rounds, key set-up from a
// pass phrase (plain, or its SHA-384 hexadecimal text) or from raw bytes,
// the ECB, CBC, CFB and OFB modes over whole buffers (64-bit feedback), a
// strong pair (CBC, zero IV) and a keyless weak byte scramble.
//
// Lifecycle: construct, Open, any number of mode operations, Close (or
// destroy). Close and the destructor put the initial tables back, so no key
// material outlives the engine. Blocks are two big-endian halves on every
// host, which is what makes the results match published Blowfish.

#include <cstdint>

class Encryption {
 public:
  // A word that can also be addressed as its bytes in memory order.
  union b32 {
    uint32_t word;
    uint8_t byte[4];
  };

  Encryption();
  ~Encryption();
  Encryption(const Encryption&) = delete;
  Encryption& operator=(const Encryption&) = delete;

  // Key from a NUL-terminated pass phrase. With `hashed` the key is the
  // 97-byte text SHA384_End writes (96 hex digits and the NUL) and never
  // fails; without it the phrase itself, refused (false, tables reset) when
  // empty or longer than 56 characters.
  bool Open(const char* pass, bool hashed);
  // Key from `len` raw bytes; false, tables untouched, unless 1 <= len <= 56.
  bool Open(const unsigned char* key, int len);
  void Close();

  // Status codes of the mode operations.
  static constexpr int kOk = 0;
  static constexpr int kBadLength = -1;  // not a multiple of 8 (or negative)
  static constexpr int kNoMode = -2;
  static constexpr int kUnknownMode = -3;
  static constexpr int kNoBuffer = -4;

  // `mode` is "ecb", "cbc", "cfb" or "ofb", in any case. `iv` points to 8
  // bytes that are copied, never written; null means eight zero bytes.
  int sencrypt(unsigned char* buf, int len, const char* mode, const unsigned char* iv = nullptr);
  int sdecrypt(unsigned char* buf, int len, const char* mode, const unsigned char* iv = nullptr);

  int EncryptStrong(unsigned char* buf, int len);  // CBC, zero IV
  int DecryptStrong(unsigned char* buf, int len);

  // buf[i] ^= (len + 209 + 33 i) mod 256; its own inverse.
  void EncryptWeak(unsigned char* buf, int len);
  void DecryptWeak(unsigned char* buf, int len);

  // Kept for callers that probe for a self-test: there is none.
  int autotest();

  // Internals: one block in place, the rounds on host-order words, the
  // round function and the host/big-endian conversions.
  void encrypt(unsigned char* block);
  void decrypt(unsigned char* block);
  void wencrypt(b32* xl, b32* xr);
  void wdecrypt(b32* xl, b32* xr);
  uint32_t F(b32* x);
  uint32_t system2bigendian_long(uint32_t value);
  uint32_t bigendian2system_long(uint32_t value);

  // Published initial tables: the fractional hexadecimal digits of pi.
  static const uint32_t m_INIT_PA[18];
  static const uint32_t m_INIT_SB[4][256];

 private:
  friend struct EncryptionInspector;  // tests compare key schedules

  void Reset();
  void KeySchedule(const unsigned char* key, int len);

  uint32_t m_PA[18];
  uint32_t m_SB[4][256];
  int32_t m_bytePos[4];
};
