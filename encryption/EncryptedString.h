#pragma once

// One wide string held enciphered in memory, so that a package's secure and
// global variables never rest there in plain form between uses. The plain
// text exists only inside one operation, and every temporary copy of it is
// wiped before release.
//
// Cipher: the engine's strong pair (Blowfish CBC, zero IV) keyed by the
// hashed fixed pass phrase. Plain form: the text's code units as 4-byte
// host-order units, a zero unit, zero bytes to the next multiple of 8.
//
// Record (package files, docs/format.md), after `version:int32`:
//   [version 1]      count:int32  cipher[count]   (count <= 0: empty value)
//   [any other, 2]   text:string (scrambled)      (enciphered as it arrives)
// Write always writes version 2, so the file holds the text, not the cipher.

#include <string>

class CSysFile;

class CEncryptedString {
 public:
  CEncryptedString();
  explicit CEncryptedString(const std::wstring& text);  // empty, then SetString
  virtual ~CEncryptedString();
  CEncryptedString(const CEncryptedString&) = delete;
  CEncryptedString& operator=(const CEncryptedString&) = delete;

  // Releases the cipher; the value becomes empty.
  void Close();

  // Enciphers and holds text. An empty text changes nothing. A text too
  // long for a 32-bit cipher length leaves the value empty.
  void SetString(const std::wstring& text);
  // The deciphered text up to its first zero unit; "" for an empty value
  // and for a cipher that is no whole number of blocks.
  std::wstring GetString() const;

  // Requires out. Hands out, in a new array the caller deletes, the UTF-8
  // text followed by 1 to 8 zero bytes (a multiple of 8 in all),
  // enciphered; len is its size. An empty value returns true with *out and
  // len untouched. False, outputs untouched, when the text has a character
  // UTF-8 cannot hold.
  bool EncryptAsUTF8(unsigned char** out, int& len);
  // Requires buf. Replaces the caller's *buf (len bytes made by
  // EncryptAsUTF8) with a new array holding it deciphered; len is kept.
  // A null *buf or len < 1 returns true and changes nothing; a len that is
  // no multiple of 8 returns false and changes nothing.
  bool DecryptAsUTF8(unsigned char** buf, int& len);

  // Base64 text of the cipher bytes; "" for an empty value.
  std::wstring ToBase64() const;
  // Takes Base64 text of cipher bytes as the new value, as they are. An
  // empty text changes nothing. Otherwise the value is emptied first and
  // stays empty when the text does not narrow or decodes to no whole number
  // of blocks. Throws the codec's std::runtime_error for a length that is
  // no multiple of 4 (and for text outside the alphabet), value empty.
  void FromBase64(const std::wstring& text);

  // The record; version is ignored (the record has its own). Both stop at
  // the first failed primitive. Read leaves the value as it was when it
  // fails, and a version-2 record with an empty text also leaves it.
  bool Write(unsigned int version, CSysFile& file);
  bool Read(unsigned int version, CSysFile& file);

 private:
  friend struct EncryptedStringInspector;  // tests compare the cipher bytes

  // Takes ownership of data: an array of length cipher bytes, whole blocks.
  void TakeCipher(unsigned char* data, int length);

  unsigned char* m_pData;
  int m_length;
};
