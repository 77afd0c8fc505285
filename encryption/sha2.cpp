#include "encryption/sha2.h"

#include <openssl/crypto.h>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <iterator>

#include "encryption/sha2_detail.h"
#include "system/Assert.h"

// Digest module of FIPS 180-2. The portable compressions unroll the rounds
// by eight, renaming the working variables rather than moving them, and
// keep the message schedule in a 16-word ring. Where the host has them,
// faster builds of the same compression run instead (SHA extensions for
// SHA-256; BMI2 rotations with a vector message schedule for SHA-512).

const char sha2_hex_digits[] = "0123456789abcdef";

namespace {

// Initial hash values (square roots of the first primes) and round
// constants (cube roots), as fractional bits; generated with exact integer
// roots.
constexpr uint32_t K256[64] = {
    0x428a2f98U, 0x71374491U, 0xb5c0fbcfU, 0xe9b5dba5U, 0x3956c25bU, 0x59f111f1U, 0x923f82a4U,
    0xab1c5ed5U, 0xd807aa98U, 0x12835b01U, 0x243185beU, 0x550c7dc3U, 0x72be5d74U, 0x80deb1feU,
    0x9bdc06a7U, 0xc19bf174U, 0xe49b69c1U, 0xefbe4786U, 0x0fc19dc6U, 0x240ca1ccU, 0x2de92c6fU,
    0x4a7484aaU, 0x5cb0a9dcU, 0x76f988daU, 0x983e5152U, 0xa831c66dU, 0xb00327c8U, 0xbf597fc7U,
    0xc6e00bf3U, 0xd5a79147U, 0x06ca6351U, 0x14292967U, 0x27b70a85U, 0x2e1b2138U, 0x4d2c6dfcU,
    0x53380d13U, 0x650a7354U, 0x766a0abbU, 0x81c2c92eU, 0x92722c85U, 0xa2bfe8a1U, 0xa81a664bU,
    0xc24b8b70U, 0xc76c51a3U, 0xd192e819U, 0xd6990624U, 0xf40e3585U, 0x106aa070U, 0x19a4c116U,
    0x1e376c08U, 0x2748774cU, 0x34b0bcb5U, 0x391c0cb3U, 0x4ed8aa4aU, 0x5b9cca4fU, 0x682e6ff3U,
    0x748f82eeU, 0x78a5636fU, 0x84c87814U, 0x8cc70208U, 0x90befffaU, 0xa4506cebU, 0xbef9a3f7U,
    0xc67178f2U,
};
constexpr uint32_t H256[8] = {
    0x6a09e667U, 0xbb67ae85U, 0x3c6ef372U, 0xa54ff53aU,
    0x510e527fU, 0x9b05688cU, 0x1f83d9abU, 0x5be0cd19U,
};
constexpr uint64_t K512[80] = {
    0x428a2f98d728ae22ULL, 0x7137449123ef65cdULL, 0xb5c0fbcfec4d3b2fULL, 0xe9b5dba58189dbbcULL,
    0x3956c25bf348b538ULL, 0x59f111f1b605d019ULL, 0x923f82a4af194f9bULL, 0xab1c5ed5da6d8118ULL,
    0xd807aa98a3030242ULL, 0x12835b0145706fbeULL, 0x243185be4ee4b28cULL, 0x550c7dc3d5ffb4e2ULL,
    0x72be5d74f27b896fULL, 0x80deb1fe3b1696b1ULL, 0x9bdc06a725c71235ULL, 0xc19bf174cf692694ULL,
    0xe49b69c19ef14ad2ULL, 0xefbe4786384f25e3ULL, 0x0fc19dc68b8cd5b5ULL, 0x240ca1cc77ac9c65ULL,
    0x2de92c6f592b0275ULL, 0x4a7484aa6ea6e483ULL, 0x5cb0a9dcbd41fbd4ULL, 0x76f988da831153b5ULL,
    0x983e5152ee66dfabULL, 0xa831c66d2db43210ULL, 0xb00327c898fb213fULL, 0xbf597fc7beef0ee4ULL,
    0xc6e00bf33da88fc2ULL, 0xd5a79147930aa725ULL, 0x06ca6351e003826fULL, 0x142929670a0e6e70ULL,
    0x27b70a8546d22ffcULL, 0x2e1b21385c26c926ULL, 0x4d2c6dfc5ac42aedULL, 0x53380d139d95b3dfULL,
    0x650a73548baf63deULL, 0x766a0abb3c77b2a8ULL, 0x81c2c92e47edaee6ULL, 0x92722c851482353bULL,
    0xa2bfe8a14cf10364ULL, 0xa81a664bbc423001ULL, 0xc24b8b70d0f89791ULL, 0xc76c51a30654be30ULL,
    0xd192e819d6ef5218ULL, 0xd69906245565a910ULL, 0xf40e35855771202aULL, 0x106aa07032bbd1b8ULL,
    0x19a4c116b8d2d0c8ULL, 0x1e376c085141ab53ULL, 0x2748774cdf8eeb99ULL, 0x34b0bcb5e19b48a8ULL,
    0x391c0cb3c5c95a63ULL, 0x4ed8aa4ae3418acbULL, 0x5b9cca4f7763e373ULL, 0x682e6ff3d6b2b8a3ULL,
    0x748f82ee5defb2fcULL, 0x78a5636f43172f60ULL, 0x84c87814a1f0ab72ULL, 0x8cc702081a6439ecULL,
    0x90befffa23631e28ULL, 0xa4506cebde82bde9ULL, 0xbef9a3f7b2c67915ULL, 0xc67178f2e372532bULL,
    0xca273eceea26619cULL, 0xd186b8c721c0c207ULL, 0xeada7dd6cde0eb1eULL, 0xf57d4f7fee6ed178ULL,
    0x06f067aa72176fbaULL, 0x0a637dc5a2c898a6ULL, 0x113f9804bef90daeULL, 0x1b710b35131c471bULL,
    0x28db77f523047d84ULL, 0x32caab7b40c72493ULL, 0x3c9ebe0a15c9bebcULL, 0x431d67c49c100d4cULL,
    0x4cc5d4becb3e42b6ULL, 0x597f299cfc657e2aULL, 0x5fcb6fab3ad6faecULL, 0x6c44198c4a475817ULL,
};
// Each pair of round constants twice over, to add to a vector holding two
// schedule words of two blocks.
alignas(32) constexpr std::array<uint64_t, 160> K512Twice = [] {
  std::array<uint64_t, 160> twice{};
  for (std::size_t t = 0; t < 80; t += 2)
    for (std::size_t lane = 0; lane < 2; ++lane) {
      twice[2 * t + 2 * lane] = K512[t];
      twice[2 * t + 2 * lane + 1] = K512[t + 1];
    }
  return twice;
}();
constexpr uint64_t H384[8] = {
    0xcbbb9d5dc1059ed8ULL, 0x629a292a367cd507ULL, 0x9159015a3070dd17ULL, 0x152fecd8f70e5939ULL,
    0x67332667ffc00b31ULL, 0x8eb44a8768581511ULL, 0xdb0c2e0d64f98fa7ULL, 0x47b5481dbefa4fa4ULL,
};
constexpr uint64_t H512[8] = {
    0x6a09e667f3bcc908ULL, 0xbb67ae8584caa73bULL, 0x3c6ef372fe94f82bULL, 0xa54ff53a5f1d36f1ULL,
    0x510e527fade682d1ULL, 0x9b05688c2b3e6c1fULL, 0x1f83d9abfb41bd6bULL, 0x5be0cd19137e2179ULL,
};

[[gnu::always_inline]] inline uint32_t LoadBE32(const sha2_byte* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
[[gnu::always_inline]] inline uint64_t LoadBE64(const sha2_byte* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}
inline void StoreBE32(sha2_byte* p, uint32_t v) {
  p[0] = sha2_byte(v >> 24);
  p[1] = sha2_byte(v >> 16);
  p[2] = sha2_byte(v >> 8);
  p[3] = sha2_byte(v);
}
inline void StoreBE64(sha2_byte* p, uint64_t v) {
  StoreBE32(p, uint32_t(v >> 32));
  StoreBE32(p + 4, uint32_t(v));
}

[[gnu::always_inline]] inline uint32_t Rotr32(uint32_t x, int n) {
  return (x >> n) | (x << (32 - n));
}
[[gnu::always_inline]] inline uint64_t Rotr64(uint64_t x, int n) {
  return (x >> n) | (x << (64 - n));
}

template <typename W>
[[gnu::always_inline]] inline W Ch(W x, W y, W z) {
  return ((y ^ z) & x) ^ z;
}
template <typename W>
[[gnu::always_inline]] inline W Maj(W x, W y, W z) {
  return (x & y) | (z & (x | y));
}

[[gnu::always_inline]] inline uint32_t BigSigma0_256(uint32_t x) {
  return Rotr32(x, 2) ^ Rotr32(x, 13) ^ Rotr32(x, 22);
}
[[gnu::always_inline]] inline uint32_t BigSigma1_256(uint32_t x) {
  return Rotr32(x, 6) ^ Rotr32(x, 11) ^ Rotr32(x, 25);
}
[[gnu::always_inline]] inline uint32_t SmallSigma0_256(uint32_t x) {
  return Rotr32(x, 7) ^ Rotr32(x, 18) ^ (x >> 3);
}
[[gnu::always_inline]] inline uint32_t SmallSigma1_256(uint32_t x) {
  return Rotr32(x, 17) ^ Rotr32(x, 19) ^ (x >> 10);
}

[[gnu::always_inline]] inline uint64_t BigSigma0_512(uint64_t x) {
  return Rotr64(x, 28) ^ Rotr64(x, 34) ^ Rotr64(x, 39);
}
[[gnu::always_inline]] inline uint64_t BigSigma1_512(uint64_t x) {
  return Rotr64(x, 14) ^ Rotr64(x, 18) ^ Rotr64(x, 41);
}
[[gnu::always_inline]] inline uint64_t SmallSigma0_512(uint64_t x) {
  return Rotr64(x, 1) ^ Rotr64(x, 8) ^ (x >> 7);
}
[[gnu::always_inline]] inline uint64_t SmallSigma1_512(uint64_t x) {
  return Rotr64(x, 19) ^ Rotr64(x, 61) ^ (x >> 6);
}

// One round; the caller rotates the roles of a..h instead of moving values.
#define SHA2_ROUND(a, b, c, d, e, f, g, h, k, w, S0, S1) \
  do {                                                   \
    auto t1_ = (h) + S1(e) + Ch(e, f, g) + (k) + (w);    \
    (d) += t1_;                                          \
    (h) = t1_ + S0(a) + Maj(a, b, c);                    \
  } while (0)

// Next schedule word in the 16-word ring, for round j >= 16.
#define SHA2_SCHEDULE(W, j, s0, s1) \
  (W[(j)&15] += s1(W[((j) + 14) & 15]) + W[((j) + 9) & 15] + s0(W[((j) + 1) & 15]))

// Compresses `blocks` consecutive blocks.
[[gnu::always_inline]] inline void Compress256Body(uint32_t state[8], const sha2_byte* block,
                                                   std::size_t blocks) {
  uint32_t W[16];
  for (; blocks > 0; --blocks, block += SHA256_BLOCK_LENGTH) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int j = 0; j < 16; j += 8) {
      for (int i = 0; i < 8; ++i) W[j + i] = LoadBE32(block + 4 * (j + i));
      SHA2_ROUND(a, b, c, d, e, f, g, h, K256[j + 0], W[j + 0], BigSigma0_256, BigSigma1_256);
      SHA2_ROUND(h, a, b, c, d, e, f, g, K256[j + 1], W[j + 1], BigSigma0_256, BigSigma1_256);
      SHA2_ROUND(g, h, a, b, c, d, e, f, K256[j + 2], W[j + 2], BigSigma0_256, BigSigma1_256);
      SHA2_ROUND(f, g, h, a, b, c, d, e, K256[j + 3], W[j + 3], BigSigma0_256, BigSigma1_256);
      SHA2_ROUND(e, f, g, h, a, b, c, d, K256[j + 4], W[j + 4], BigSigma0_256, BigSigma1_256);
      SHA2_ROUND(d, e, f, g, h, a, b, c, K256[j + 5], W[j + 5], BigSigma0_256, BigSigma1_256);
      SHA2_ROUND(c, d, e, f, g, h, a, b, K256[j + 6], W[j + 6], BigSigma0_256, BigSigma1_256);
      SHA2_ROUND(b, c, d, e, f, g, h, a, K256[j + 7], W[j + 7], BigSigma0_256, BigSigma1_256);
    }
    for (int j = 16; j < 64; j += 8) {
#define S256(a, b, c, d, e, f, g, h, n)                                                \
  SHA2_ROUND(a, b, c, d, e, f, g, h, K256[j + n],                                      \
             SHA2_SCHEDULE(W, j + n, SmallSigma0_256, SmallSigma1_256), BigSigma0_256, \
             BigSigma1_256)
      S256(a, b, c, d, e, f, g, h, 0);
      S256(h, a, b, c, d, e, f, g, 1);
      S256(g, h, a, b, c, d, e, f, 2);
      S256(f, g, h, a, b, c, d, e, 3);
      S256(e, f, g, h, a, b, c, d, 4);
      S256(d, e, f, g, h, a, b, c, 5);
      S256(c, d, e, f, g, h, a, b, 6);
      S256(b, c, d, e, f, g, h, a, 7);
#undef S256
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
  // The schedule words derive from the message: do not leave them behind.
  OPENSSL_cleanse(W, sizeof W);
}

// Compresses `blocks` consecutive blocks. Maj reuses the a ^ b of the
// round before as its b ^ c.
[[gnu::always_inline]] inline void Compress512Body(uint64_t state[8], const sha2_byte* block,
                                                   std::size_t blocks) {
  uint64_t W[16];
  for (; blocks > 0; --blocks, block += SHA512_BLOCK_LENGTH) {
    uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
    uint64_t ab, bc = b ^ c;
#define R512(a, b, c, d, e, f, g, h, k, w, AB, BC)                   \
  do {                                                               \
    uint64_t t1_ = (h) + BigSigma1_512(e) + Ch(e, f, g) + (k) + (w); \
    AB = (a) ^ (b);                                                  \
    (d) += t1_;                                                      \
    (h) = t1_ + BigSigma0_512(a) + ((AB & BC) ^ (b));                \
  } while (0)
#define R512_8(K, WORD)                                \
  R512(a, b, c, d, e, f, g, h, K(0), WORD(0), ab, bc); \
  R512(h, a, b, c, d, e, f, g, K(1), WORD(1), bc, ab); \
  R512(g, h, a, b, c, d, e, f, K(2), WORD(2), ab, bc); \
  R512(f, g, h, a, b, c, d, e, K(3), WORD(3), bc, ab); \
  R512(e, f, g, h, a, b, c, d, K(4), WORD(4), ab, bc); \
  R512(d, e, f, g, h, a, b, c, K(5), WORD(5), bc, ab); \
  R512(c, d, e, f, g, h, a, b, K(6), WORD(6), ab, bc); \
  R512(b, c, d, e, f, g, h, a, K(7), WORD(7), bc, ab)
#define K512_AT(n) K512[j + (n)]
#define W_LOAD(n) (W[j + (n)] = LoadBE64(block + 8 * (j + (n))))
#define W_NEXT(n) SHA2_SCHEDULE(W, j + (n), SmallSigma0_512, SmallSigma1_512)
    for (int j = 0; j < 16; j += 8) {
      R512_8(K512_AT, W_LOAD);
    }
    for (int j = 16; j < 80; j += 8) {
      R512_8(K512_AT, W_NEXT);
    }
#undef W_NEXT
#undef W_LOAD
#undef K512_AT
#undef R512_8
#undef R512
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
  OPENSSL_cleanse(W, sizeof W);
}

}  // namespace

// The compressions this build has, fastest first, each with its host
// check; the portable one runs anywhere and comes last.
namespace sha2_detail {

namespace {

void Compress256Portable(uint32_t state[8], const sha2_byte* block, std::size_t blocks) {
  Compress256Body(state, block, blocks);
}
void Compress512Portable(uint64_t state[8], const sha2_byte* block, std::size_t blocks) {
  Compress512Body(state, block, blocks);
}
bool Always() { return true; }

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define SHA2_HAVE_X86_VARIANTS 1

bool HostHasBmi2Avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("avx2");
}

// The SHA extensions (CPUID leaf 7, EBX bit 29) with SSE4.1 and SSSE3.
bool HostHasShaNi() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSE4_1) || !(c & bit_SSSE3)) return false;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  return (b & (1u << 29)) != 0;
}

// SHA-256 with the SHA extensions: the state is held as the word pairs
// ABEF and CDGH that sha256rnds2 works on; each step runs four rounds and
// advances the message schedule one quad with sha256msg1/msg2.
[[gnu::target("sha,sse4.1,ssse3")]] void Compress256ShaNi(uint32_t state[8], const sha2_byte* block,
                                                          std::size_t blocks) {
  const __m128i byteswap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
  for (; blocks > 0; --blocks, block += SHA256_BLOCK_LENGTH) {
    const __m128i abef_saved = abef, cdgh_saved = cdgh;
    __m128i m[4];
#pragma GCC unroll 16
    for (int i = 0; i < 16; ++i) {
      if (i < 4)
        m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i)),
                                byteswap);
      __m128i msg =
          _mm_add_epi32(m[i & 3], _mm_loadu_si128(reinterpret_cast<const __m128i*>(K256 + 4 * i)));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, msg);
      if (i >= 3 && i <= 14) {
        const __m128i w7 = _mm_alignr_epi8(m[i & 3], m[(i - 1) & 3], 4);
        m[(i + 1) & 3] = _mm_sha256msg2_epu32(_mm_add_epi32(m[(i + 1) & 3], w7), m[i & 3]);
      }
      msg = _mm_shuffle_epi32(msg, 0x0E);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, msg);
      if (i >= 1 && i <= 12) m[(i - 1) & 3] = _mm_sha256msg1_epu32(m[(i - 1) & 3], m[i & 3]);
    }
    abef = _mm_add_epi32(abef, abef_saved);
    cdgh = _mm_add_epi32(cdgh, cdgh_saved);
  }
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  dcba = _mm_blend_epi16(feba, dchg, 0xF0);
  hgfe = _mm_alignr_epi8(dchg, feba, 8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}

[[gnu::target("bmi,bmi2,avx2")]] void Compress256Haswell(uint32_t state[8], const sha2_byte* block,
                                                         std::size_t blocks) {
  Compress256Body(state, block, blocks);
}
// SHA-512 on BMI2 + AVX2 hosts, rotations built from shifts, except the
// one by a whole byte, which is a byte shuffle.
#define SHA512_VECTOR_NAME Compress512Avx2
#define SHA512_VECTOR_TARGET "bmi,bmi2,avx2"
#define SHA512_VECTOR_ROTR(x, n) \
  _mm256_or_si256(_mm256_srli_epi64(x, n), _mm256_slli_epi64(x, 64 - (n)))
#define SHA512_VECTOR_ROTR8(x)                                                                     \
  _mm256_shuffle_epi8(x, _mm256_setr_epi8(1, 2, 3, 4, 5, 6, 7, 0, 9, 10, 11, 12, 13, 14, 15, 8, \
                                          1, 2, 3, 4, 5, 6, 7, 0, 9, 10, 11, 12, 13, 14, 15, 8))
#include "encryption/sha512_vector.inc"
#undef SHA512_VECTOR_ROTR8
#undef SHA512_VECTOR_ROTR
#undef SHA512_VECTOR_TARGET
#undef SHA512_VECTOR_NAME

// The same where AVX-512VL rotates lanes in one instruction.
#define SHA512_VECTOR_NAME Compress512Avx512
#define SHA512_VECTOR_TARGET "bmi,bmi2,avx2,avx512f,avx512vl"
#define SHA512_VECTOR_ROTR(x, n) _mm256_ror_epi64(x, n)
#define SHA512_VECTOR_ROTR8(x) _mm256_ror_epi64(x, 8)
#include "encryption/sha512_vector.inc"
#undef SHA512_VECTOR_ROTR8
#undef SHA512_VECTOR_ROTR
#undef SHA512_VECTOR_TARGET
#undef SHA512_VECTOR_NAME

bool HostHasAvx512Vl() {
  __builtin_cpu_init();
  return HostHasBmi2Avx2() && __builtin_cpu_supports("avx512f") &&
         __builtin_cpu_supports("avx512vl");
}

#endif  // x86 variants

}  // namespace

const Variant<Compress256Fn> kCompress256Variants[] = {
#ifdef SHA2_HAVE_X86_VARIANTS
    {"sha-ni", HostHasShaNi, Compress256ShaNi},
    {"bmi2-avx2", HostHasBmi2Avx2, Compress256Haswell},
#endif
    {"portable", Always, Compress256Portable},
};
const std::size_t kCompress256VariantCount = std::size(kCompress256Variants);

const Variant<Compress512Fn> kCompress512Variants[] = {
#ifdef SHA2_HAVE_X86_VARIANTS
    {"avx512vl", HostHasAvx512Vl, Compress512Avx512},
    {"bmi2-avx2", HostHasBmi2Avx2, Compress512Avx2},
#endif
    {"portable", Always, Compress512Portable},
};
const std::size_t kCompress512VariantCount = std::size(kCompress512Variants);

}  // namespace sha2_detail

namespace {

template <typename Fn>
Fn FirstAvailable(const sha2_detail::Variant<Fn>* variants, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if (variants[i].available()) return variants[i].compress;
  return variants[count - 1].compress;
}

// Chosen on first use, so no static initialiser order can see it unset.
inline void Compress256(uint32_t state[8], const sha2_byte* block, std::size_t blocks) {
  static const auto compress =
      FirstAvailable(sha2_detail::kCompress256Variants, sha2_detail::kCompress256VariantCount);
  compress(state, block, blocks);
}

// Chosen on first use as well; tests and benchmarks may switch it.
std::atomic<sha2_detail::Compress512Fn> gCompress512{nullptr};

sha2_detail::Compress512Fn Compress512Selected() {
  auto compress = gCompress512.load(std::memory_order_relaxed);
  if (compress == nullptr) {
    compress =
        FirstAvailable(sha2_detail::kCompress512Variants, sha2_detail::kCompress512VariantCount);
    gCompress512.store(compress, std::memory_order_relaxed);
  }
  return compress;
}

inline void Compress512(uint64_t state[8], const sha2_byte* block, std::size_t blocks) {
  Compress512Selected()(state, block, blocks);
}

// Buffered absorption shared by both families: fill the pending block,
// then compress whole blocks straight from the caller's data.
template <std::size_t kBlock, typename Compress>
void Absorb(sha2_byte* buffer, std::size_t used, const sha2_byte* data, std::size_t len,
            Compress compress) {
  if (used > 0) {
    std::size_t room = kBlock - used;
    if (len < room) {
      std::memcpy(buffer + used, data, len);
      return;
    }
    std::memcpy(buffer + used, data, room);
    compress(buffer, 1);
    data += room;
    len -= room;
  }
  if (len >= kBlock) compress(data, len / kBlock);
  std::size_t tail = len % kBlock;
  if (tail > 0) std::memcpy(buffer, data + len - tail, tail);
}

void Finish256(SHA256_CTX* context) {
  std::size_t used = std::size_t(context->bitcount >> 3) % SHA256_BLOCK_LENGTH;
  context->buffer[used++] = 0x80;
  if (used > SHA256_BLOCK_LENGTH - 8) {
    std::memset(context->buffer + used, 0, SHA256_BLOCK_LENGTH - used);
    SHA256_Transform(context, context->buffer);
    used = 0;
  }
  std::memset(context->buffer + used, 0, SHA256_BLOCK_LENGTH - 8 - used);
  StoreBE64(context->buffer + SHA256_BLOCK_LENGTH - 8, context->bitcount);
  SHA256_Transform(context, context->buffer);
}

template <std::size_t kDigestLength>
char* HexEnd(const sha2_byte* digest, char* buffer) {
  for (std::size_t i = 0; i < kDigestLength; ++i) {
    *buffer++ = sha2_hex_digits[digest[i] >> 4];
    *buffer++ = sha2_hex_digits[digest[i] & 0x0f];
  }
  *buffer = '\0';
  return buffer;
}

void Final512(sha2_byte digest[], SHA512_CTX* context, std::size_t digest_length) {
  SHA512_Last(context);
  if (digest != nullptr)
    for (std::size_t i = 0; i < digest_length / 8; ++i)
      StoreBE64(digest + 8 * i, context->state[i]);
  OPENSSL_cleanse(context, sizeof *context);
}

// End: finishes into a private digest (wiped after) and writes its text;
// without a buffer only wipes the context.
template <typename Context, std::size_t kDigestLength>
char* EndWith(void (*final)(sha2_byte[], Context*), Context* context, char* buffer) {
  if (buffer == nullptr) {
    OPENSSL_cleanse(context, sizeof *context);
    return nullptr;
  }
  sha2_byte digest[kDigestLength];
  final(digest, context);
  char* end = HexEnd<kDigestLength>(digest, buffer);
  OPENSSL_cleanse(digest, sizeof digest);
  return end;
}

void Init512(SHA512_CTX* context, const uint64_t (&initial)[8]) {
  if (context == nullptr) return;
  std::memcpy(context->state, initial, sizeof initial);
  context->bitcount[0] = context->bitcount[1] = 0;
  std::memset(context->buffer, 0, sizeof context->buffer);
}

}  // namespace

bool sha2_detail::UseCompress512(const char* name) {
  if (name == nullptr) {
    gCompress512.store(FirstAvailable(kCompress512Variants, kCompress512VariantCount));
    return true;
  }
  for (std::size_t i = 0; i < kCompress512VariantCount; ++i)
    if (std::strcmp(kCompress512Variants[i].name, name) == 0) {
      if (!kCompress512Variants[i].available()) return false;
      gCompress512.store(kCompress512Variants[i].compress);
      return true;
    }
  return false;
}

const char* sha2_detail::Compress512Name() {
  const auto compress = Compress512Selected();
  for (std::size_t i = 0; i < kCompress512VariantCount; ++i)
    if (kCompress512Variants[i].compress == compress) return kCompress512Variants[i].name;
  return nullptr;
}

// ---- SHA-256 ----

void SHA256_Init(SHA256_CTX* context) {
  if (context == nullptr) return;
  std::memcpy(context->state, H256, sizeof H256);
  context->bitcount = 0;
  std::memset(context->buffer, 0, sizeof context->buffer);
}

void SHA256_Transform(SHA256_CTX* context, const sha2_byte* block) {
  Compress256(context->state, block, 1);
}

void SHA256_Update(SHA256_CTX* context, const sha2_byte* data, std::size_t len) {
  if (len == 0) return;
  VELLO_ASSERT(context != (SHA256_CTX*)0 && data != (sha2_byte*)0);
  std::size_t used = std::size_t(context->bitcount >> 3) % SHA256_BLOCK_LENGTH;
  context->bitcount += uint64_t(len) << 3;
  Absorb<SHA256_BLOCK_LENGTH>(
      context->buffer, used, data, len,
      [context](const sha2_byte* b, std::size_t n) { Compress256(context->state, b, n); });
}

void SHA256_Final(sha2_byte digest[], SHA256_CTX* context) {
  VELLO_ASSERT(context != (SHA256_CTX*)0);
  Finish256(context);
  if (digest != nullptr)
    for (int i = 0; i < 8; ++i) StoreBE32(digest + 4 * i, context->state[i]);
  OPENSSL_cleanse(context, sizeof *context);
}

char* SHA256_End(SHA256_CTX* context, char buffer[]) {
  VELLO_ASSERT(context != (SHA256_CTX*)0);
  return EndWith<SHA256_CTX, SHA256_DIGEST_LENGTH>(SHA256_Final, context, buffer);
}

char* SHA256_Data(const sha2_byte* data, std::size_t len, char digest[]) {
  SHA256_CTX context;
  SHA256_Init(&context);
  SHA256_Update(&context, data, len);
  return SHA256_End(&context, digest);
}

// ---- SHA-512 and SHA-384 ----

void SHA512_Init(SHA512_CTX* context) { Init512(context, H512); }

void SHA512_Transform(SHA512_CTX* context, const sha2_byte* block) {
  Compress512(context->state, block, 1);
}

void SHA512_Update(SHA512_CTX* context, const sha2_byte* data, std::size_t len) {
  if (len == 0) return;
  VELLO_ASSERT(context != (SHA512_CTX*)0 && data != (sha2_byte*)0);
  std::size_t used = std::size_t(context->bitcount[0] >> 3) % SHA512_BLOCK_LENGTH;
  // 128-bit bit count: len * 8 may carry out of the low word twice over.
  uint64_t add_low = uint64_t(len) << 3;
  uint64_t add_high = uint64_t(len) >> 61;
  context->bitcount[0] += add_low;
  context->bitcount[1] += add_high + (context->bitcount[0] < add_low ? 1 : 0);
  Absorb<SHA512_BLOCK_LENGTH>(
      context->buffer, used, data, len,
      [context](const sha2_byte* b, std::size_t n) { Compress512(context->state, b, n); });
}

void SHA512_Last(SHA512_CTX* context) {
  std::size_t used = std::size_t(context->bitcount[0] >> 3) % SHA512_BLOCK_LENGTH;
  context->buffer[used++] = 0x80;
  if (used > SHA512_BLOCK_LENGTH - 16) {
    std::memset(context->buffer + used, 0, SHA512_BLOCK_LENGTH - used);
    SHA512_Transform(context, context->buffer);
    used = 0;
  }
  std::memset(context->buffer + used, 0, SHA512_BLOCK_LENGTH - 16 - used);
  StoreBE64(context->buffer + SHA512_BLOCK_LENGTH - 16, context->bitcount[1]);
  StoreBE64(context->buffer + SHA512_BLOCK_LENGTH - 8, context->bitcount[0]);
  SHA512_Transform(context, context->buffer);
}

void SHA512_Final(sha2_byte digest[], SHA512_CTX* context) {
  VELLO_ASSERT(context != (SHA512_CTX*)0);
  Final512(digest, context, SHA512_DIGEST_LENGTH);
}

char* SHA512_End(SHA512_CTX* context, char buffer[]) {
  VELLO_ASSERT(context != (SHA512_CTX*)0);
  return EndWith<SHA512_CTX, SHA512_DIGEST_LENGTH>(SHA512_Final, context, buffer);
}

char* SHA512_Data(const sha2_byte* data, std::size_t len, char digest[]) {
  SHA512_CTX context;
  SHA512_Init(&context);
  SHA512_Update(&context, data, len);
  return SHA512_End(&context, digest);
}

void SHA384_Init(SHA384_CTX* context) { Init512(context, H384); }

void SHA384_Update(SHA384_CTX* context, const sha2_byte* data, std::size_t len) {
  SHA512_Update(context, data, len);
}

void SHA384_Final(sha2_byte digest[], SHA384_CTX* context) {
  VELLO_ASSERT(context != (SHA384_CTX*)0);
  Final512(digest, context, SHA384_DIGEST_LENGTH);
}

char* SHA384_End(SHA384_CTX* context, char buffer[]) {
  VELLO_ASSERT(context != (SHA384_CTX*)0);
  return EndWith<SHA384_CTX, SHA384_DIGEST_LENGTH>(SHA384_Final, context, buffer);
}

char* SHA384_Data(const sha2_byte* data, std::size_t len, char digest[]) {
  SHA384_CTX context;
  SHA384_Init(&context);
  SHA384_Update(&context, data, len);
  return SHA384_End(&context, digest);
}
