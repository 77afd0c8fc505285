#include "encryption/Blowfish.h"

#include <openssl/crypto.h>

#include <bit>
#include <cstring>
#include <vector>

#include "encryption/Base64.h"
#include "encryption/BlowfishCore.h"

namespace Vello::Encryption {

namespace {

// A block is two little-endian words.
inline Blowfish::Word LoadLE(const unsigned char* p) { return BlowfishCore::Load<std::endian::little>(p); }
inline void StoreLE(unsigned char* p, Blowfish::Word w) { BlowfishCore::Store<std::endian::little>(p, w); }

bool ValidBuffer(const unsigned char* data, std::uint32_t length) {
  return data != nullptr && length != 0 && length % 8 == 0;
}

}  // namespace

Blowfish::Blowfish() { Reset(); }

Blowfish::~Blowfish() {
  OPENSSL_cleanse(m_P, sizeof m_P);
  OPENSSL_cleanse(m_S, sizeof m_S);
}

void Blowfish::Reset() { BlowfishCore::Reset(m_P, m_S); }

void Blowfish::SetPassword(const char* key) {
  Reset();
  if (key == nullptr || key[0] == '\0') return;
  GenerateSubkeys(key);
}

void Blowfish::GenerateSubkeys(const char* key) {
  if (key == nullptr) return;
  const std::size_t n = std::strlen(key);
  if (n == 0) return;
  // Only the first 72 key bytes can reach the 18 words.
  BlowfishCore::KeySchedule(m_P, m_S, reinterpret_cast<const unsigned char*>(key), n);
}

void Blowfish::BF_En(Word* left, Word* right) const {
  BlowfishCore::Encipher(m_P, m_S, *left, *right);
}

void Blowfish::BF_De(Word* left, Word* right) const {
  BlowfishCore::Decipher(m_P, m_S, *left, *right);
}

bool Blowfish::Encrypt(unsigned char* data, std::uint32_t length) const {
  if (!ValidBuffer(data, length)) return false;
  BlowfishCore::Ecb<+1, std::endian::little>(m_P, m_S, data, length / 8);
  return true;
}

bool Blowfish::Decrypt(unsigned char* data, std::uint32_t length) const {
  if (!ValidBuffer(data, length)) return false;
  BlowfishCore::Ecb<-1, std::endian::little>(m_P, m_S, data, length / 8);
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
