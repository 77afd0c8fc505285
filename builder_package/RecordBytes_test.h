#pragma once

// Builds package records byte by byte, independently of the library's
// writers, so that tests can check the readers against the file layout;
// and takes unpacked buffers back as bytes.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <zlib.h>

#include "builder_package/PackageForm.h"


namespace recordbytes {

using Bytes = std::vector<uint8_t>;

inline void Int(Bytes& out, int32_t value) {
  for (int shift = 0; shift < 32; shift += 8)
    out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(value) >> shift));
}

inline void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

inline void Bool(Bytes& out, bool value) { Int(out, value ? 1 : 0); }

// A run of bytes after its length.
inline void Run(Bytes& out, const Bytes& bytes) {
  Int(out, static_cast<int32_t>(bytes.size()));
  Append(out, bytes);
}

// The keyless scramble of stored content with constant k.
inline Bytes Scrambled(Bytes bytes, int k) {
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] ^= static_cast<uint8_t>((bytes.size() + 33 * i + k) % 256);
  return bytes;
}

inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A string record of ASCII text shorter than 512 characters: one chunk,
// scrambled with constant 146.
inline void String(Bytes& out, const std::string& ascii) { Run(out, Scrambled(Text(ascii), 146)); }

// The fields of a form record that tests set (byte runs as stored); the
// others hold recognisable values: int n is 100 + n, flags as marked.
struct Form {
  Bytes swf, mask, preview, settings, keyText;
  int32_t unpackedMask = 0;
  std::string name = "named";
  int32_t swfVersion = 9;
};

inline Bytes FormRecord(int version, const Form& f) {
  Bytes out;
  Int(out, version);
  String(out, "s1");
  Bool(out, true);                                    // flag 1
  for (int n = 1; n <= 7; ++n) Int(out, 100 + n);
  for (int n = 2; n <= 4; ++n) Bool(out, n % 2 == 1);
  Int(out, 108);
  for (int n = 5; n <= 8; ++n) Bool(out, n % 2 == 1);
  for (int n = 9; n <= 14; ++n) Int(out, 100 + n);
  String(out, "s2");
  Bool(out, true);                                    // flag 9
  Bool(out, false);                                   // flag 10
  Run(out, f.swf);
  if (version >= 2) {
    Int(out, static_cast<int32_t>(f.mask.size()));
    Int(out, f.unpackedMask);
    Append(out, f.mask);
  }
  if (version >= 3) Int(out, 0x7FFFFFF3);             // uint 1
  if (version >= 4) Bool(out, false);                 // flag 11
  if (version >= 5)
    for (int n = 15; n <= 17; ++n) Int(out, 100 + n);
  if (version >= 6) String(out, f.name);
  if (version >= 7) Int(out, 118);
  if (version >= 8) {
    Run(out, f.preview);
    Run(out, f.settings);
  }
  if (version >= 9) {
    Bool(out, true);                                  // flag 12
    Int(out, 0x12345678);                             // uint 2
  }
  if (version >= 10)
    for (int n = 19; n <= 20; ++n) Int(out, 100 + n);
  if (version >= 11) Run(out, f.keyText);
  if (version >= 12) Int(out, f.swfVersion);
  if (version >= 14) Bool(out, true);                 // flag 13
  return out;
}

// Header with recognisable values.
inline Bytes PackageHeader(int version, int formCount) {
  Bytes out;
  Int(out, version);
  Int(out, -1);
  String(out, "header one");
  String(out, "");
  for (bool flag : {true, false, true}) Bool(out, flag);
  String(out, "header three");
  for (int value : {2, 3, 4, formCount}) Int(out, value);
  return out;
}

// A package of the version: the header, the form records, then sections.
inline Bytes PackageFile(int version, const std::vector<Bytes>& forms, const Bytes& sections) {
  Bytes out = PackageHeader(version, static_cast<int>(forms.size()));
  for (const Bytes& form : forms) Append(out, form);
  Append(out, sections);
  return out;
}

// Every resource section of the newest version, empty: 30 fields of four
// zero bytes (counts, false flags, empty strings). DLLs, secure variables,
// files, encrypted strings: 4; options: 8; splash: 2; a string; tray icon:
// 2; global variables: 1; seven strings; a flag; flash: 2; xul: 2.
inline Bytes EmptySections() { return Bytes(30 * 4, 0); }

// A binary record: its version, then the data's length and bytes scrambled
// with constant 125.
inline Bytes BinaryRecord(const Bytes& plain, int version = 1) {
  Bytes out;
  Int(out, version);
  Run(out, Scrambled(plain, 125));
  return out;
}

// An encrypted-string record as written: version 2, then the text.
inline Bytes EncryptedRecord(const std::string& ascii) {
  Bytes out;
  Int(out, 2);
  String(out, ascii);
  return out;
}

// The zlib stream of plain at level, as compress2 makes it.
inline Bytes Compressed(const Bytes& plain, int level) {
  uLongf size = compressBound(static_cast<uLong>(plain.size()));
  Bytes out(size);
  EXPECT_EQ(compress2(out.data(), &size, plain.data(), static_cast<uLong>(plain.size()), level),
            Z_OK);
  out.resize(size);
  return out;
}

// The bytes an unpack operation hands out (none when it fails), released
// here; expectSuccess adds the check that it succeeds.
template <class T>
Bytes Unpacked(T& object, bool (T::*unpack)(unsigned char**, int&), bool expectSuccess = true) {
  unsigned char* out = nullptr;
  int size = 0;
  const bool ok = (object.*unpack)(&out, size);
  EXPECT_TRUE(ok || !expectSuccess);
  const std::unique_ptr<unsigned char[]> owned(out);
  return ok && out != nullptr ? Bytes(out, out + size) : Bytes{};
}

// ---- A package of every version, with each of its sections populated ----

// Compressible words; large runs of them give different streams at
// levels 1 and 9.
inline Bytes Words(int seed, size_t size) {
  std::mt19937 rng(static_cast<unsigned>(seed));
  Bytes out;
  while (out.size() < size) Append(out, Text("word" + std::to_string(rng() % 97) + " "));
  out.resize(size);
  return out;
}

// Small, so that every prefix of a package holding them loads quickly.
inline const Bytes kSplash = Words(1, 300), kTray = Words(2, 50), kFlash = Words(3, 200),
                   kXul = Words(4, 70), kMask = Words(6, 800);

// Where a count or size sits in a composed file, the field the reader
// names for it, and what it is.
enum class Kind { kCount, kSize, kUnpacked, kKey, kCipherText };
struct Mark {
  size_t at;
  std::string field;
  Kind kind;
};

// Composes package bytes, noting where the counts and sizes are.
struct Composer {
  Bytes out;
  std::vector<Mark> marks;

  void Append(const Bytes& bytes) { recordbytes::Append(out, bytes); }
  void Note(const std::string& field, Kind kind) { marks.push_back({out.size(), field, kind}); }
  void Count(int32_t n) {
    Note("count", Kind::kCount);
    Int(out, n);
  }
  void Key(const std::string& utf8) {
    Note("key", Kind::kKey);
    String(out, utf8);
  }
  void Binary(const std::string& plain, int version = 1) {
    Int(out, version);
    Note("m_length", Kind::kSize);
    Run(out, Scrambled(Text(plain), 125));
  }
  void Encrypted(const std::string& text) {
    Int(out, 2);
    Note("", Kind::kCipherText);
    String(out, text);
  }
  void Options(bool present) {
    for (int n = 1; n <= 4; ++n) Int(out, present ? 10 + n : 0);
    Bool(out, present);
    String(out, present ? "option one" : "");
    Bool(out, present);
    Int(out, present ? -15 : 0);
  }
  // Sizes, then the zlib stream scrambled with k; absent: two zero sizes.
  void Compressed(const std::string& name, const Bytes* plain, int level, int k) {
    const Bytes stored = plain ? Scrambled(recordbytes::Compressed(*plain, level), k) : Bytes{};
    Note("m_packed" + name + "Size", Kind::kSize);
    Int(out, static_cast<int32_t>(stored.size()));
    Note("m_unpacked" + name + "Size", Kind::kUnpacked);
    Int(out, plain ? static_cast<int32_t>(plain->size()) : 0);
    Append(stored);
  }
};

// An uncompressed SWF program of version 10 whose header states its length.
inline Bytes Program(const std::string& body) {
  Bytes out = Text("FWS\x0a");
  Int(out, static_cast<int32_t>(8 + body.size()));
  Append(out, Text(body));
  return out;
}

// The key text of a protected form holding a fresh 1024-bit RSA key, behind
// a pass phrase (which no package holds) when a cipher is given.
inline Bytes NewKeyText(const EVP_CIPHER* cipher) {
  EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(1024));
  BIO* bio = BIO_new(BIO_s_mem());
  char pass[] = "secret";
  PEM_write_bio_PrivateKey(bio, key, cipher, nullptr, 0, nullptr, pass);
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio, &data);
  const Bytes pem(data, data + n);
  BIO_free(bio);
  EVP_PKEY_free(key);
  return Scrambled(pem, 63);
}

// A form whose program and preview are sound and whose mask inflates.
inline Form OneForm() {
  Form form;
  form.swf = Scrambled(Program("program"), 122);
  form.mask = Scrambled(Compressed(kMask, 9), 122);
  form.unpackedMask = static_cast<int32_t>(kMask.size());
  form.preview = Scrambled(Program("preview"), 122);
  return form;
}

// A package of version v with every section it has populated. Map keys
// come out of order, "alpha" twice, and the keys U+10000 and U+FFFD, which
// UTF-16 order would swap. Its two forms are records of formVersion.
inline Composer StoredFile(int v, int formVersion = 14) {
  Composer c;
  c.Append(PackageHeader(v, 2));
  c.marks.push_back({c.out.size() - 4, "count", Kind::kCount});
  c.Append(FormRecord(formVersion, OneForm()));
  c.Append(FormRecord(formVersion, OneForm()));
  if (v >= 2) {
    c.Count(2);
    c.Binary("dll one");
    c.Binary("", 7);  // the binary's own version is ignored
  }
  if (v >= 3) {
    c.Count(3);
    c.Key("zeta"), c.Encrypted("z value");
    c.Key("alpha"), c.Encrypted("first");
    c.Key("alpha"), c.Encrypted("second");
  }
  if (v >= 4) {
    c.Count(2);
    c.Key("\xF0\x90\x80\x80"), c.Binary("astral");
    c.Key("\xEF\xBF\xBD"), c.Binary("replacement");
  }
  if (v >= 5) {
    c.Count(2);
    c.Encrypted("list one");
    c.Encrypted("");
    c.Options(true);
  }
  if (v >= 6) c.Compressed("Splash", &kSplash, 9, 182);
  if (v >= 7) String(c.out, "option two");
  if (v >= 8) c.Compressed("TrayIcon", &kTray, 9, 184);
  if (v >= 9) {
    c.Count(2);
    c.Key("b"), c.Encrypted("bee");
    c.Key("a"), c.Encrypted("ay");
  }
  if (v >= 10)
    for (int n = 3; n <= 9; ++n) String(c.out, "option " + std::to_string(n));
  if (v >= 11) Bool(c.out, true);
  if (v >= 12) c.Compressed("Flash", &kFlash, 1, 84);
  if (v >= 14) c.Compressed("Xul", &kXul, 1, 76);
  return c;
}

}  // namespace recordbytes
