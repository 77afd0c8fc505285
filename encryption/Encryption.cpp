#include "encryption/Encryption.h"

#include <openssl/crypto.h>

#include <bit>
#include <cstring>

#include "encryption/sha2.h"

namespace {

constexpr int kMaxKeyLength = 56;

// The round function on a word held in a register. Taking the bytes by
// shifts is the same as taking them through the byte-order table, from most
// to least significant, on any host, without a trip through memory.
[[gnu::always_inline]] inline uint32_t Round(const uint32_t (&S)[4][256], uint32_t x) {
  return ((S[0][x >> 24] + S[1][(x >> 16) & 0xff]) ^ S[2][(x >> 8) & 0xff]) + S[3][x & 0xff];
}

// Sixteen rounds, unrolled, ending with the exchange of the halves. The
// P-word is folded into the other half first, off the round's critical path.
[[gnu::always_inline]] inline void Encipher(const uint32_t (&P)[18], const uint32_t (&S)[4][256],
                                            uint32_t& xl, uint32_t& xr) {
  uint32_t l = xl ^ P[0], r = xr;
  r ^= P[1] ^ Round(S, l);
  l ^= P[2] ^ Round(S, r);
  r ^= P[3] ^ Round(S, l);
  l ^= P[4] ^ Round(S, r);
  r ^= P[5] ^ Round(S, l);
  l ^= P[6] ^ Round(S, r);
  r ^= P[7] ^ Round(S, l);
  l ^= P[8] ^ Round(S, r);
  r ^= P[9] ^ Round(S, l);
  l ^= P[10] ^ Round(S, r);
  r ^= P[11] ^ Round(S, l);
  l ^= P[12] ^ Round(S, r);
  r ^= P[13] ^ Round(S, l);
  l ^= P[14] ^ Round(S, r);
  r ^= P[15] ^ Round(S, l);
  l ^= P[16] ^ Round(S, r);
  r ^= P[17];
  xl = r;
  xr = l;
}

[[gnu::always_inline]] inline void Decipher(const uint32_t (&P)[18], const uint32_t (&S)[4][256],
                                            uint32_t& xl, uint32_t& xr) {
  uint32_t l = xl ^ P[17], r = xr;
  r ^= P[16] ^ Round(S, l);
  l ^= P[15] ^ Round(S, r);
  r ^= P[14] ^ Round(S, l);
  l ^= P[13] ^ Round(S, r);
  r ^= P[12] ^ Round(S, l);
  l ^= P[11] ^ Round(S, r);
  r ^= P[10] ^ Round(S, l);
  l ^= P[9] ^ Round(S, r);
  r ^= P[8] ^ Round(S, l);
  l ^= P[7] ^ Round(S, r);
  r ^= P[6] ^ Round(S, l);
  l ^= P[5] ^ Round(S, r);
  r ^= P[4] ^ Round(S, l);
  l ^= P[3] ^ Round(S, r);
  r ^= P[2] ^ Round(S, l);
  l ^= P[1] ^ Round(S, r);
  r ^= P[0];
  xl = r;
  xr = l;
}

// Big-endian loads and stores: one move and a byte swap where the host is
// little-endian.
inline uint32_t LoadBE(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
  return v;
}
inline void StoreBE(unsigned char* p, uint32_t v) {
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
  std::memcpy(p, &v, 4);
}

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

void Encryption::Reset() {
  std::memcpy(m_PA, m_INIT_PA, sizeof m_PA);
  std::memcpy(m_SB, m_INIT_SB, sizeof m_SB);
}

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
  int k = 0;
  for (int i = 0; i < 18; ++i) {
    // Key bytes in key order become the word's bytes from most to least
    // significant, whatever the host's byte order.
    b32 word;
    for (int j = 0; j < 4; ++j) {
      word.byte[m_bytePos[j]] = key[k];
      k = (k + 1) % len;
    }
    m_PA[i] ^= word.word;
    OPENSSL_cleanse(&word, sizeof word);
  }
  uint32_t l = 0, r = 0;
  for (int i = 0; i < 18; i += 2) {
    Encipher(m_PA, m_SB, l, r);
    m_PA[i] = l;
    m_PA[i + 1] = r;
  }
  for (auto& box : m_SB) {
    for (int i = 0; i < 256; i += 2) {
      Encipher(m_PA, m_SB, l, r);
      box[i] = l;
      box[i + 1] = r;
    }
  }
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
      for (unsigned char* p = buf; p != end; p += 8) encrypt(p);
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
      for (unsigned char* p = buf; p != end; p += 8) decrypt(p);
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
