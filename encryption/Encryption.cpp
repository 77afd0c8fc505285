#include "encryption/Encryption.h"

#include <openssl/crypto.h>

#include <bit>
#include <cstring>

#include "encryption/BlowfishCore.h"
#include "encryption/sha2.h"

namespace {

constexpr int kMaxKeyLength = 56;

using BlowfishCore::Decipher;
using BlowfishCore::Encipher;

// Blocks are two big-endian halves on every host.
inline uint32_t LoadBE(const unsigned char* p) { return BlowfishCore::Load<std::endian::big>(p); }
inline void StoreBE(unsigned char* p, uint32_t v) { BlowfishCore::Store<std::endian::big>(p, v); }

enum class Mode { kEcb, kCbc, kCfb, kOfb, kUnknown };

bool EqualsIgnoringCase(const char* a, const char* lower) {
  for (; *a != '\0' && *lower != '\0'; ++a, ++lower) {
    char c = *a;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != *lower) return false;
  }
  return *a == *lower;
}

Mode ParseMode(const char* mode) {
  if (EqualsIgnoringCase(mode, "ecb")) return Mode::kEcb;
  if (EqualsIgnoringCase(mode, "cbc")) return Mode::kCbc;
  if (EqualsIgnoringCase(mode, "cfb")) return Mode::kCfb;
  if (EqualsIgnoringCase(mode, "ofb")) return Mode::kOfb;
  return Mode::kUnknown;
}

// The shared checks of sencrypt and sdecrypt, in their specified order.
int CheckArguments(const unsigned char* buf, int len, const char* mode) {
  if (buf == nullptr) return Encryption::kNoBuffer;
  if ((len & 7) != 0 || len < 0) return Encryption::kBadLength;
  if (mode == nullptr) return Encryption::kNoMode;
  return Encryption::kOk;
}

}  // namespace

Encryption::Encryption() {
  b32 probe;
  probe.word = 0x01020304;
  for (int i = 0; i < 4; ++i) m_bytePos[probe.byte[i] - 1] = i;
  // The tables get their values from Open or Close; start from the
  // unkeyed state rather than from indeterminate memory.
  Reset();
}

Encryption::~Encryption() { Close(); }

void Encryption::Reset() { BlowfishCore::Reset(m_PA, m_SB); }

void Encryption::Close() {
  // A wipe the optimiser may not drop, even in the destructor.
  OPENSSL_cleanse(m_PA, sizeof m_PA);
  OPENSSL_cleanse(m_SB, sizeof m_SB);
  Reset();
}

bool Encryption::Open(const char* pass, bool hashed) {
  if (pass == nullptr) return false;
  Reset();
  if (hashed) {
    SHA384_CTX context;
    char key[SHA384_DIGEST_STRING_LENGTH];
    SHA384_Init(&context);
    SHA384_Update(&context, reinterpret_cast<const sha2_byte*>(pass), std::strlen(pass));
    SHA384_End(&context, key);
    KeySchedule(reinterpret_cast<const unsigned char*>(key), sizeof key);
    OPENSSL_cleanse(key, sizeof key);
    return true;
  }
  std::size_t len = std::strlen(pass);
  // An empty phrase leaves the schedule nothing to cycle through.
  if (len == 0 || len > kMaxKeyLength) return false;
  KeySchedule(reinterpret_cast<const unsigned char*>(pass), static_cast<int>(len));
  return true;
}

bool Encryption::Open(const unsigned char* key, int len) {
  if (key == nullptr || len <= 0 || len > kMaxKeyLength) return false;
  Reset();
  KeySchedule(key, len);
  return true;
}

void Encryption::KeySchedule(const unsigned char* key, int len) {
  // The core composes each word from key bytes, most significant first: the
  // placement the byte-order table gives, on any host.
  BlowfishCore::KeySchedule(m_PA, m_SB, key, static_cast<std::size_t>(len));
}

uint32_t Encryption::F(b32* x) {
  return ((m_SB[0][x->byte[m_bytePos[0]]] + m_SB[1][x->byte[m_bytePos[1]]]) ^
          m_SB[2][x->byte[m_bytePos[2]]]) +
         m_SB[3][x->byte[m_bytePos[3]]];
}

void Encryption::wencrypt(b32* xl, b32* xr) { Encipher(m_PA, m_SB, xl->word, xr->word); }

void Encryption::wdecrypt(b32* xl, b32* xr) { Decipher(m_PA, m_SB, xl->word, xr->word); }

uint32_t Encryption::system2bigendian_long(uint32_t value) {
  b32 in, out;
  in.word = value;
  // Byte of significance 3 - k moves to big-endian position k.
  for (int k = 0; k < 4; ++k) out.byte[k] = in.byte[m_bytePos[k]];
  return out.word;
}

uint32_t Encryption::bigendian2system_long(uint32_t value) {
  b32 in, out;
  in.word = value;
  for (int k = 0; k < 4; ++k) out.byte[m_bytePos[k]] = in.byte[k];
  return out.word;
}

void Encryption::encrypt(unsigned char* block) {
  uint32_t l = LoadBE(block), r = LoadBE(block + 4);
  Encipher(m_PA, m_SB, l, r);
  StoreBE(block, l);
  StoreBE(block + 4, r);
}

void Encryption::decrypt(unsigned char* block) {
  uint32_t l = LoadBE(block), r = LoadBE(block + 4);
  Decipher(m_PA, m_SB, l, r);
  StoreBE(block, l);
  StoreBE(block + 4, r);
}

int Encryption::sencrypt(unsigned char* buf, int len, const char* mode, const unsigned char* iv) {
  if (int status = CheckArguments(buf, len, mode); status != kOk) return status;
  // The feedback register R, as two big-endian halves.
  uint32_t rl = iv != nullptr ? LoadBE(iv) : 0;
  uint32_t rr = iv != nullptr ? LoadBE(iv + 4) : 0;
  const Mode parsed = ParseMode(mode);
  if (parsed == Mode::kUnknown) return kUnknownMode;
  unsigned char* const end = buf + len;
  switch (parsed) {
    case Mode::kEcb:
      BlowfishCore::Ecb<+1, std::endian::big>(m_PA, m_SB, buf, static_cast<std::size_t>(len) / 8);
      break;
    case Mode::kCbc:
      for (unsigned char* p = buf; p != end; p += 8) {
        rl ^= LoadBE(p);
        rr ^= LoadBE(p + 4);
        Encipher(m_PA, m_SB, rl, rr);
        StoreBE(p, rl);
        StoreBE(p + 4, rr);
      }
      break;
    case Mode::kCfb:
      for (unsigned char* p = buf; p != end; p += 8) {
        Encipher(m_PA, m_SB, rl, rr);
        rl ^= LoadBE(p);
        rr ^= LoadBE(p + 4);
        StoreBE(p, rl);
        StoreBE(p + 4, rr);
      }
      break;
    case Mode::kOfb:
      for (unsigned char* p = buf; p != end; p += 8) {
        Encipher(m_PA, m_SB, rl, rr);
        StoreBE(p, LoadBE(p) ^ rl);
        StoreBE(p + 4, LoadBE(p + 4) ^ rr);
      }
      break;
    case Mode::kUnknown:
      break;
  }
  // The feedback words live in registers, never in caller-visible memory;
  // they end with the call.
  rl = rr = 0;
  return kOk;
}

int Encryption::sdecrypt(unsigned char* buf, int len, const char* mode, const unsigned char* iv) {
  if (int status = CheckArguments(buf, len, mode); status != kOk) return status;
  uint32_t rl = iv != nullptr ? LoadBE(iv) : 0;
  uint32_t rr = iv != nullptr ? LoadBE(iv + 4) : 0;
  const Mode parsed = ParseMode(mode);
  if (parsed == Mode::kUnknown) return kUnknownMode;
  unsigned char* const end = buf + len;
  uint32_t cl = 0, cr = 0;  // the saved ciphertext block
  switch (parsed) {
    case Mode::kEcb:
      BlowfishCore::Ecb<-1, std::endian::big>(m_PA, m_SB, buf, static_cast<std::size_t>(len) / 8);
      break;
    case Mode::kCbc:
      for (unsigned char* p = buf; p != end; p += 8) {
        cl = LoadBE(p);
        cr = LoadBE(p + 4);
        uint32_t l = cl, r = cr;
        Decipher(m_PA, m_SB, l, r);
        StoreBE(p, l ^ rl);
        StoreBE(p + 4, r ^ rr);
        rl = cl;
        rr = cr;
      }
      break;
    case Mode::kCfb:
      for (unsigned char* p = buf; p != end; p += 8) {
        Encipher(m_PA, m_SB, rl, rr);
        cl = LoadBE(p);
        cr = LoadBE(p + 4);
        StoreBE(p, cl ^ rl);
        StoreBE(p + 4, cr ^ rr);
        rl = cl;
        rr = cr;
      }
      break;
    case Mode::kOfb:  // the key stream is the same both ways
      return sencrypt(buf, len, mode, iv);
    case Mode::kUnknown:
      break;
  }
  rl = rr = cl = cr = 0;  // registers, as in sencrypt
  return kOk;
}

int Encryption::EncryptStrong(unsigned char* buf, int len) {
  return sencrypt(buf, len, "cbc", nullptr);
}

int Encryption::DecryptStrong(unsigned char* buf, int len) {
  return sdecrypt(buf, len, "cbc", nullptr);
}

void Encryption::EncryptWeak(unsigned char* buf, int len) {
  if (buf == nullptr) return;
  for (int i = 0; i < len; ++i)
    buf[i] ^= static_cast<unsigned char>(static_cast<unsigned>(len) + 209u + 33u * i);
}

void Encryption::DecryptWeak(unsigned char* buf, int len) { EncryptWeak(buf, len); }

int Encryption::autotest() { return -1; }
