#include "encryption/Base64.h"

#include <openssl/crypto.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace {

constexpr char cFillChar = '=';

// Each alphabet character's position; every other byte, "=" included,
// maps to the all-ones value of which only the low 8 bits count.
constexpr std::array<std::size_t, 256> MakeDecodeTable() {
  std::array<std::size_t, 256> t{};
  for (auto& v : t) v = ~std::size_t{0};
  const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::size_t i = 0; i < 64; ++i) t[static_cast<unsigned char>(alphabet[i])] = i;
  return t;
}
constexpr std::array<std::size_t, 256> DecodeTable = MakeDecodeTable();

// A group of four characters c0..c3 gives the three bytes
//   (d0 << 2 | d1 >> 4 & 3), (d1 << 4 | d2 >> 2 & 15), (d2 << 6 | d3),
// each cut to 8 bits. Spread[k][c] holds character c's share of those bits
// in place k, with byte j of the group in bits 8j..8j+7, so a group is four
// loads and three ORs. kStop marks "=" in the third and fourth place.
constexpr std::uint32_t kStop = 0x80000000u;

struct SpreadTables {
  std::uint32_t t[4][256];
};

constexpr SpreadTables MakeSpread() {
  SpreadTables s{};
  for (unsigned c = 0; c < 256; ++c) {
    const std::uint32_t d = DecodeTable[c] & 0xFF;
    const std::uint32_t stop = c == static_cast<unsigned char>(cFillChar) ? kStop : 0;
    s.t[0][c] = (d << 2) & 0xFF;
    s.t[1][c] = ((d >> 4) & 3) | (((d << 4) & 0xFF) << 8);
    s.t[2][c] = (((d >> 2) & 15) << 8) | (((d << 6) & 0xFF) << 16) | stop;
    s.t[3][c] = (d << 16) | stop;
  }
  return s;
}
constexpr SpreadTables Spread = MakeSpread();

inline std::uint32_t Group(const unsigned char* g) {
  return Spread.t[0][g[0]] | Spread.t[1][g[1]] | Spread.t[2][g[2]] | Spread.t[3][g[3]];
}

inline void Store4(unsigned char* p, std::uint32_t v) {
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  std::memcpy(p, &v, 4);
}

// One group, byte by byte, honouring a stop. Returns the bytes written.
inline std::size_t GroupExact(const unsigned char* g, unsigned char* out, bool& stopped) {
  const std::uint32_t v = Group(g);
  out[0] = static_cast<unsigned char>(v);
  if (g[2] == cFillChar) return stopped = true, 1;
  out[1] = static_cast<unsigned char>(v >> 8);
  if (g[3] == cFillChar) return stopped = true, 2;
  out[2] = static_cast<unsigned char>(v >> 16);
  return 3;
}

// Decodes `groups` whole groups; returns the bytes written (3 per group
// up to a stop). Writes never go past the last byte it reports.
std::size_t DecodeGroups(const unsigned char* in, std::size_t groups, unsigned char* out,
                         bool& stopped) {
  unsigned char* const start = out;
  // Fast path: store 4 bytes per group, the fourth overwritten by the next
  // group; the last group goes byte by byte so nothing lands past the end.
  while (groups >= 3) {
    const std::uint32_t a = Group(in), b = Group(in + 4);
    if ((a | b) & kStop) break;
    Store4(out, a);
    Store4(out + 3, b);
    in += 8;
    out += 6;
    groups -= 2;
  }
  for (; groups > 0; --groups, in += 4) {
    const std::size_t n = GroupExact(in, out, stopped);
    out += n;
    if (stopped) break;
  }
  return static_cast<std::size_t>(out - start);
}

// The last 1 to 3 characters of a text. A missing second character is the
// terminating zero byte, which lies outside the alphabet.
std::size_t DecodeTail(const unsigned char* in, std::size_t k, unsigned char* out) {
  const unsigned char c1 = k > 1 ? in[1] : 0;
  out[0] = static_cast<unsigned char>(Spread.t[0][in[0]] | Spread.t[1][c1]);
  if (k < 3 || in[2] == cFillChar) return 1;
  out[1] = static_cast<unsigned char>((Spread.t[1][in[1]] | Spread.t[2][in[2]]) >> 8);
  return 2;
}

}  // namespace

std::string Base64::encode(const std::string& bytes) {
  return encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

std::string Base64::encode(const unsigned char* in, std::size_t n) {
  std::string out(EncodedSize(n), cFillChar);
  encode(in, n, out.data());
  return out;
}

void Base64::encode(const unsigned char* in, std::size_t n, char* o) {
  static const std::string sBase64Table =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const char* table = sBase64Table.data();
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3, o += 4) {
    const std::uint32_t v = (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8) | in[i + 2];
    o[0] = table[v >> 18];
    o[1] = table[(v >> 12) & 63];
    o[2] = table[(v >> 6) & 63];
    o[3] = table[v & 63];
  }
  if (i < n) {
    const std::uint32_t v = (std::uint32_t{in[i]} << 16) | (i + 1 < n ? std::uint32_t{in[i + 1]} << 8 : 0);
    o[0] = table[v >> 18];
    o[1] = table[(v >> 12) & 63];
    o[2] = i + 1 < n ? table[(v >> 6) & 63] : cFillChar;
    o[3] = cFillChar;
  }
}

std::string Base64::decode(const std::string& text) {
  const std::size_t n = text.size();
  std::string out(MaxDecodedSize(n), '\0');
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  bool stopped = false;
  std::size_t written = DecodeGroups(in, n / 4, o, stopped);
  if (!stopped && n % 4 != 0) written += DecodeTail(in + n / 4 * 4, n % 4, o + written);
  out.resize(written);
  return out;
}

Base64::Decoder::~Decoder() { OPENSSL_cleanse(m_carry, sizeof m_carry); }

void Base64::Decoder::Feed(const unsigned char* text, std::size_t n) {
  if (m_stopped || n == 0) return;
  if (m_carried > 0) {
    const std::size_t take = std::min(4 - m_carried, n);
    std::memcpy(m_carry + m_carried, text, take);
    m_carried += take;
    text += take;
    n -= take;
    if (m_carried < 4) return;
    m_written += DecodeGroups(m_carry, 1, m_out + m_written, m_stopped);
    m_carried = 0;
    if (m_stopped) return;
  }
  m_written += DecodeGroups(text, n / 4, m_out + m_written, m_stopped);
  if (m_stopped) return;
  m_carried = n % 4;
  std::memcpy(m_carry, text + n / 4 * 4, m_carried);
}

std::size_t Base64::Decoder::Finish() {
  if (!m_stopped && m_carried > 0) {
    m_written += DecodeTail(m_carry, m_carried, m_out + m_written);
    m_carried = 0;
  }
  m_stopped = true;
  return m_written;
}
