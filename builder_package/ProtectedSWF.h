#pragma once

#include <string>
#include <vector>

// The protected form of a main SWF program: Base64 text cut into chunks,
// one chunk in 48 RSA-OAEP-encrypted under a key pair made for the form,
// the others Blowfish-enciphered under a key cut from the private key's PEM
// text. The key text is stored scrambled beside the payload.
namespace ProtectedSWF {

struct Packed {
  std::vector<unsigned char> payload;  // B blocks of K bytes
  std::vector<unsigned char> keyText;  // scrambled PEM text
};

// Packs n bytes of an SWF program. text is the PEM password-callback data;
// an empty text fails. False on any OpenSSL failure; out is then untouched.
bool Pack(const unsigned char* swf, int n, const std::string& text, Packed& out);

// Decodes a protected payload with its stored key text. On success text
// holds the decoded program bytes (for a final Blowfish block and a text
// without "=", followed by the bytes decoded from the filler).
bool Unpack(const unsigned char* payload, int payloadLength,
            const unsigned char* keyText, int keyTextLength,
            std::vector<unsigned char>& decoded);

}  // namespace ProtectedSWF
