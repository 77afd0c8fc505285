#pragma once

// SHA-256, SHA-384 and SHA-512 (FIPS 180-2) with caller-owned contexts.
//
// Init, any number of Update calls, then one Final (binary digest) or End
// (lowercase hexadecimal text); Data does all three on a private context.
// Final and End wipe the context; reinitialise it before reuse.
//
// These are C++ functions on this module's own context types. Their
// mangled link names cannot meet libcrypto's extern "C" SHA256_Init and
// kin, so both may live in one program. The library builds with
// OPENSSL_NO_DEPRECATED, which hides OpenSSL's SHA256_CTX and friends from
// <openssl/sha.h>; a unit that sees both declarations is refused here.

#include <cstddef>
#include <cstdint>

#if defined(OPENSSL_SHA_H) && !defined(OPENSSL_NO_DEPRECATED_3_0)
#error "encryption/sha2.h cannot share a unit with OpenSSL's deprecated SHA API"
#endif

typedef uint8_t sha2_byte;

constexpr std::size_t SHA256_BLOCK_LENGTH = 64;
constexpr std::size_t SHA256_DIGEST_LENGTH = 32;
constexpr std::size_t SHA256_DIGEST_STRING_LENGTH = SHA256_DIGEST_LENGTH * 2 + 1;
constexpr std::size_t SHA384_BLOCK_LENGTH = 128;
constexpr std::size_t SHA384_DIGEST_LENGTH = 48;
constexpr std::size_t SHA384_DIGEST_STRING_LENGTH = SHA384_DIGEST_LENGTH * 2 + 1;
constexpr std::size_t SHA512_BLOCK_LENGTH = 128;
constexpr std::size_t SHA512_DIGEST_LENGTH = 64;
constexpr std::size_t SHA512_DIGEST_STRING_LENGTH = SHA512_DIGEST_LENGTH * 2 + 1;

struct SHA256_CTX {
  uint32_t state[8];
  uint64_t bitcount;
  sha2_byte buffer[SHA256_BLOCK_LENGTH];
};

struct SHA512_CTX {
  uint64_t state[8];
  uint64_t bitcount[2];  // 128-bit bit count, low word first
  sha2_byte buffer[SHA512_BLOCK_LENGTH];
};

typedef SHA512_CTX SHA384_CTX;

// Digit table of the hexadecimal text, high nibble first.
extern const char sha2_hex_digits[];

void SHA256_Init(SHA256_CTX* context);
void SHA256_Update(SHA256_CTX* context, const sha2_byte* data, std::size_t len);
void SHA256_Final(sha2_byte digest[], SHA256_CTX* context);
char* SHA256_End(SHA256_CTX* context, char buffer[]);
char* SHA256_Data(const sha2_byte* data, std::size_t len, char digest[]);

void SHA384_Init(SHA384_CTX* context);
void SHA384_Update(SHA384_CTX* context, const sha2_byte* data, std::size_t len);
void SHA384_Final(sha2_byte digest[], SHA384_CTX* context);
char* SHA384_End(SHA384_CTX* context, char buffer[]);
char* SHA384_Data(const sha2_byte* data, std::size_t len, char digest[]);

void SHA512_Init(SHA512_CTX* context);
void SHA512_Update(SHA512_CTX* context, const sha2_byte* data, std::size_t len);
void SHA512_Final(sha2_byte digest[], SHA512_CTX* context);
char* SHA512_End(SHA512_CTX* context, char buffer[]);
char* SHA512_Data(const sha2_byte* data, std::size_t len, char digest[]);

// Internal steps, exposed for the module's own tests.
void SHA256_Transform(SHA256_CTX* context, const sha2_byte* block);
void SHA512_Transform(SHA512_CTX* context, const sha2_byte* block);
void SHA512_Last(SHA512_CTX* context);
