#include "encryption/Blowfish.h"

#include <openssl/crypto.h>

#include <bit>
#include <cstring>
#include <vector>

#include "encryption/Base64.h"
#include "encryption/BlowfishTables.h"

namespace Vello::Encryption {

namespace {

using Word = Blowfish::Word;

inline Word LoadLE(const unsigned char* p) {
  Word w;
  std::memcpy(&w, p, 4);
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap32(w);
  return w;
}

inline void StoreLE(unsigned char* p, Word w) {
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap32(w);
  std::memcpy(p, &w, 4);
}

inline Word F(const Word (*S)[256], Word x) {
  return ((S[0][x >> 24] + S[1][(x >> 16) & 0xFF]) ^ S[2][(x >> 8) & 0xFF]) + S[3][x & 0xFF];
}

// N independent blocks at once: one block's rounds form a serial chain, so
// interleaving several keeps the table loads of the CPU busy. P runs from
// p[0] to p[17] (enciphering) or from p[17] down to p[0] (deciphering).
template <int N, int Dir>
inline void Rounds(const Word* P, const Word (*S)[256], Word* L, Word* R) {
  auto key = [P](int i) { return Dir > 0 ? P[i] : P[17 - i]; };
  for (int j = 0; j < N; ++j) L[j] ^= key(0);
#pragma GCC unroll 8
  for (int k = 1; k < 17; k += 2) {
    const Word a = key(k), b = key(k + 1);
    for (int j = 0; j < N; ++j) R[j] ^= F(S, L[j]) ^ a;
    for (int j = 0; j < N; ++j) L[j] ^= F(S, R[j]) ^ b;
  }
  // The last exchange of halves is undone: left takes R ^ P17, right L.
  const Word last = key(17);
  for (int j = 0; j < N; ++j) {
    const Word t = L[j];
    L[j] = R[j] ^ last;
    R[j] = t;
  }
}

template <int Dir>
void Ecb(const Word* P, const Word (*S)[256], unsigned char* data, std::uint32_t length) {
  constexpr int kLanes = 4;
  std::uint32_t blocks = length / 8;
  for (; blocks >= kLanes; blocks -= kLanes, data += 8 * kLanes) {
    Word L[kLanes], R[kLanes];
    for (int j = 0; j < kLanes; ++j) {
      L[j] = LoadLE(data + 8 * j);
      R[j] = LoadLE(data + 8 * j + 4);
    }
    Rounds<kLanes, Dir>(P, S, L, R);
    for (int j = 0; j < kLanes; ++j) {
      StoreLE(data + 8 * j, L[j]);
      StoreLE(data + 8 * j + 4, R[j]);
    }
  }
  for (; blocks > 0; --blocks, data += 8) {
    Word L = LoadLE(data), R = LoadLE(data + 4);
    Rounds<1, Dir>(P, S, &L, &R);
    StoreLE(data, L);
    StoreLE(data + 4, R);
  }
}

bool ValidBuffer(const unsigned char* data, std::uint32_t length) {
  return data != nullptr && length != 0 && length % 8 == 0;
}

}  // namespace

Blowfish::Blowfish() { Reset(); }

Blowfish::~Blowfish() {
  OPENSSL_cleanse(m_P, sizeof m_P);
  OPENSSL_cleanse(m_S, sizeof m_S);
}

void Blowfish::Reset() {
  std::memcpy(m_P, BlowfishTables::kInitialP, sizeof m_P);
  std::memcpy(m_S, BlowfishTables::kInitialS, sizeof m_S);
}

void Blowfish::SetPassword(const char* key) {
  Reset();
  if (key == nullptr || key[0] == '\0') return;
  GenerateSubkeys(key);
}

void Blowfish::GenerateSubkeys(const char* key) {
  if (key == nullptr) return;
  const std::size_t n = std::strlen(key);
  if (n == 0) return;
  const auto* k = reinterpret_cast<const unsigned char*>(key);
  // Only the first 72 key bytes can reach the 18 words.
  std::size_t at = 0;
  for (int i = 0; i < 18; ++i) {
    Word w = 0;
    for (int b = 0; b < 4; ++b) {
      w = (w << 8) | k[at];
      if (++at == n) at = 0;
    }
    m_P[i] ^= w;
  }
  Word L = 0, R = 0;
  for (int i = 0; i < 18; i += 2) {
    BF_En(&L, &R);
    m_P[i] = L;
    m_P[i + 1] = R;
  }
  for (auto& box : m_S) {
    for (int i = 0; i < 256; i += 2) {
      BF_En(&L, &R);
      box[i] = L;
      box[i + 1] = R;
    }
  }
  OPENSSL_cleanse(&L, sizeof L);
  OPENSSL_cleanse(&R, sizeof R);
}

void Blowfish::BF_En(Word* left, Word* right) const {
  Rounds<1, +1>(m_P, m_S, left, right);
}

void Blowfish::BF_De(Word* left, Word* right) const {
  Rounds<1, -1>(m_P, m_S, left, right);
}

bool Blowfish::Encrypt(unsigned char* data, std::uint32_t length) const {
  if (!ValidBuffer(data, length)) return false;
  Ecb<+1>(m_P, m_S, data, length);
  return true;
}

bool Blowfish::Decrypt(unsigned char* data, std::uint32_t length) const {
  if (!ValidBuffer(data, length)) return false;
  Ecb<-1>(m_P, m_S, data, length);
  return true;
}

bool Blowfish::EncryptString(const char* text, std::string& out) const {
  if (text == nullptr || text[0] == '\0') return false;
  const std::size_t n = std::strlen(text);
  const std::size_t blockLength = (n + 7) / 8 * 8;
  if (blockLength > UINT32_MAX) return false;
  std::vector<unsigned char> block(blockLength, 0);
  std::memcpy(block.data(), text, n);
  Encrypt(block.data(), static_cast<std::uint32_t>(blockLength));
  out = Base64::encode(std::string(block.begin(), block.end()));
  return true;
}

bool Blowfish::DecryptString(const char* text, std::string& out) const {
  if (text == nullptr || text[0] == '\0') return false;
  std::string plain = Base64::decode(text);
  const bool ok = plain.size() <= UINT32_MAX &&
                  Decrypt(reinterpret_cast<unsigned char*>(plain.data()),
                          static_cast<std::uint32_t>(plain.size()));
  if (ok) out.swap(plain);
  OPENSSL_cleanse(plain.data(), plain.size());
  return ok;
}

int Blowfish::Test() {
  struct Vector {
    const char* key;
    Word plain[2];
    Word cipher[2];
  };
  // The reference vectors published with Blowfish.
  static const Vector kVectors[2] = {
      {"abcdefghijklmnopqrstuvwxyz", {0x424c4f57u, 0x46495348u}, {0x324ed0feu, 0xf413a203u}},
      {"Who is John Galt?", {0xfedcba98u, 0x76543210u}, {0xcc91732bu, 0x8022f684u}},
  };
  for (int v = 0; v < 2; ++v) {
    const Vector& t = kVectors[v];
    SetPassword(t.key);
    unsigned char block[8];
    StoreLE(block, t.plain[0]);
    StoreLE(block + 4, t.plain[1]);
    Encrypt(block, sizeof block);
    if (LoadLE(block) != t.cipher[0] || LoadLE(block + 4) != t.cipher[1]) return v + 1;
    Decrypt(block, sizeof block);
    if (LoadLE(block) != t.plain[0] || LoadLE(block + 4) != t.plain[1]) return ~v;
  }
  return 0;
}

}  // namespace Vello::Encryption
