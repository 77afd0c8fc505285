#pragma once

#include <string>
#include <vector>

#include "system/ByteRun.h"

// The protected form of a main SWF program: Base64 text cut into chunks,
// one chunk in 48 RSA-OAEP-encrypted under a key pair made for the form,
// the others Blowfish-enciphered under a key cut from the private key's PEM
// text. The key text is stored scrambled beside the payload.
namespace ProtectedSWF {

struct Packed {
  RunBytes payload;                    // B blocks of K bytes
  std::vector<unsigned char> keyText;  // scrambled PEM text
  // The scramble is keyless, so the key text is the private key: wiped.
  ~Packed();
};

// Packs n bytes of an SWF program (n may be 0). text is the PEM
// password-callback data; an empty text fails. False on any OpenSSL
// failure; out is then untouched.
bool Pack(const unsigned char* swf, int n, const std::string& text, Packed& out);

// Decodes a protected payload with its stored key text straight into out,
// which must hold at least payloadLength bytes (the decoded bytes never
// need more). On success decodedLength is the number of bytes written:
// the program, and for a final Blowfish block under a text without "=",
// the bytes decoded from its filler after it. Bytes of out past them are
// left as they were. Bytes after the payload's last whole block of the
// key's size are ignored. False, out untouched, for a key text that is
// short, does not parse or is no RSA key, or an RSA block that does not
// decrypt.
bool Unpack(const unsigned char* payload, int payloadLength,
            const unsigned char* keyText, int keyTextLength,
            unsigned char* out, int outCapacity, int& decodedLength);

// The same into a vector holding exactly the decoded bytes; untouched on
// false.
bool Unpack(const unsigned char* payload, int payloadLength,
            const unsigned char* keyText, int keyTextLength,
            RunBytes& decoded);

}  // namespace ProtectedSWF
