#include "encryption/EncryptedString.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "encryption/Encryption.h"
#include "system/Assert.h"
#include "system/SysFile.h"
#include "system/SysStringHelper.h"

namespace {

static_assert(sizeof(wchar_t) == 4, "the plain form holds 4-byte code units");

constexpr char kPassPhrase[] = "Request rejected.";
constexpr int kRecordVersion = 2;
constexpr int kRawCipherRecord = 1;
constexpr int kBlock = 8;

// Room for `bytes` rounded up to whole blocks; 0 when an int cannot hold it.
int PaddedSize(std::size_t bytes) {
  if (bytes > static_cast<std::size_t>(INT_MAX - (kBlock - 1))) return 0;
  return static_cast<int>((bytes + kBlock - 1) / kBlock * kBlock);
}

// One engine per operation, keyed by the hashed pass phrase, as every
// value shares the one key.
bool RunStrong(unsigned char* buffer, int length, bool encipher) {
  Encryption engine;
  if (!engine.Open(kPassPhrase, true)) return false;
  const int status =
      encipher ? engine.EncryptStrong(buffer, length) : engine.DecryptStrong(buffer, length);
  engine.Close();
  return status == Encryption::kOk;
}

template <typename Char>
void Wipe(std::basic_string<Char>& text) {
  OPENSSL_cleanse(text.data(), text.size() * sizeof(Char));
}

// Enciphers a new zero-filled array of whole blocks that starts with the
// given bytes. Null when the size does not fit or the engine refuses.
unsigned char* EncipherPadded(const void* plain, std::size_t bytes, std::size_t room,
                              int& length) {
  const int size = PaddedSize(room);
  if (size == 0) return nullptr;
  auto* data = new unsigned char[size]();
  std::memcpy(data, plain, bytes);
  if (!RunStrong(data, size, true)) {
    OPENSSL_cleanse(data, static_cast<std::size_t>(size));
    delete[] data;
    return nullptr;
  }
  length = size;
  return data;
}

// Pieces in which the raw bytes of a record are read: a damaged count on a
// stream that cannot tell its size costs no more than what arrives.
constexpr int kPiece = 64 * 1024;

bool ReadRawBytes(CSysFile& file, int count, std::vector<unsigned char>& bytes) {
  const long long remaining = file.Remaining();
  if (remaining >= 0 && count > remaining) return false;
  std::vector<unsigned char> read;
  while (static_cast<int>(read.size()) < count) {
    const int piece = remaining >= 0 ? count : std::min(kPiece, count - static_cast<int>(read.size()));
    const std::size_t at = read.size();
    read.resize(at + static_cast<std::size_t>(piece));
    if (file.Read(read.data() + at, piece) != piece) return false;
  }
  bytes.swap(read);
  return true;
}

}  // namespace

CEncryptedString::CEncryptedString() : m_pData(nullptr), m_length(0) {}

CEncryptedString::CEncryptedString(const std::wstring& text) : CEncryptedString() {
  SetString(text);
}

CEncryptedString::~CEncryptedString() { Close(); }

void CEncryptedString::Close() {
  delete[] m_pData;
  m_pData = nullptr;
  m_length = 0;
}

void CEncryptedString::TakeCipher(unsigned char* data, int length) {
  VELLO_ASSERT(!( length % 8 ));
  Close();
  m_pData = data;
  m_length = length;
}

void CEncryptedString::SetString(const std::wstring& text) {
  if (text.empty()) return;
  Close();
  if (text.size() >= static_cast<std::size_t>(INT_MAX / sizeof(wchar_t))) return;
  int length = 0;
  // The zero unit and the padding come from the zero fill.
  unsigned char* data = EncipherPadded(text.data(), text.size() * sizeof(wchar_t),
                                       (text.size() + 1) * sizeof(wchar_t), length);
  if (data != nullptr) TakeCipher(data, length);
}

std::wstring CEncryptedString::GetString() const {
  // Only whole blocks decipher; anything else reads as no text.
  if (m_pData == nullptr || m_length < 1 || m_length % kBlock != 0) return {};
  // Deciphered in the string that is returned, so no other copy of the
  // plain text is made.
  std::wstring units(static_cast<std::size_t>(m_length) / sizeof(wchar_t), L'\0');
  auto* bytes = reinterpret_cast<unsigned char*>(units.data());
  std::memcpy(bytes, m_pData, static_cast<std::size_t>(m_length));
  if (!RunStrong(bytes, m_length, false)) {
    Wipe(units);
    return {};
  }
  const std::size_t end = std::min(units.find(L'\0'), units.size());
  OPENSSL_cleanse(units.data() + end, (units.size() - end) * sizeof(wchar_t));
  units.resize(end);
  return units;
}

bool CEncryptedString::EncryptAsUTF8(unsigned char** out, int& len) {
  VELLO_ASSERT(out != NULL);
  std::wstring text = GetString();
  if (text.empty()) return true;
  std::string utf8;
  utf8.reserve(text.size() * 4);  // no reallocation leaves a copy behind
  const bool converted = CSysStringHelper::GetSingleton().NativeToUTF8(text, utf8);
  Wipe(text);
  int length = 0;
  unsigned char* data =
      converted ? EncipherPadded(utf8.data(), utf8.size(), utf8.size() + 1, length) : nullptr;
  Wipe(utf8);
  if (data == nullptr) return false;
  *out = data;
  len = length;
  return true;
}

bool CEncryptedString::DecryptAsUTF8(unsigned char** buf, int& len) {
  VELLO_ASSERT(buf != NULL);
  if (*buf == nullptr || len < 1) return true;
  if (len % kBlock != 0) return false;
  std::unique_ptr<unsigned char[]> plain(new (std::nothrow) unsigned char[len]);
  if (!plain) return false;
  std::memcpy(plain.get(), *buf, static_cast<std::size_t>(len));
  if (!RunStrong(plain.get(), len, false)) {
    OPENSSL_cleanse(plain.get(), static_cast<std::size_t>(len));
    return false;
  }
  delete[] *buf;
  *buf = plain.release();
  return true;
}

bool CEncryptedString::Write(unsigned int /*version*/, CSysFile& file) {
  std::wstring text = GetString();
  const bool written = file.WriteInt(kRecordVersion) && file.WriteString(text, true);
  Wipe(text);
  return written;
}

bool CEncryptedString::Read(unsigned int /*version*/, CSysFile& file) {
  int recordVersion = 0;
  if (!file.ReadInt(recordVersion)) return false;
  if (recordVersion == kRawCipherRecord) {
    int count = 0;
    if (!file.ReadInt(count)) return false;
    if (count <= 0) {
      Close();
      return true;
    }
    std::vector<unsigned char> cipher;
    if (!ReadRawBytes(file, count, cipher)) return false;
    // Taken as stored, whole blocks or not: GetString reads a partial
    // block as no text.
    auto* data = new unsigned char[cipher.size()];
    std::copy(cipher.begin(), cipher.end(), data);
    Close();
    m_pData = data;
    m_length = count;
    return true;
  }
  std::wstring text;  // fresh, so nothing of an earlier value mixes in
  if (!file.ReadString(text, true)) return false;
  SetString(text);
  Wipe(text);
  return true;
}
