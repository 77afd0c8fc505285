#include "encryption/EncryptedString.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "builder_package/RecordBytes_test.h"
#include "encryption/BaseCodec_test.h"
#include "encryption/OpenSslBlowfish_test.h"
#include "system/MemoryFile_test.h"

// Reaches the held cipher bytes, which no operation hands out as they are.
struct EncryptedStringInspector {
  static vello_test::Bytes Cipher(const CEncryptedString& s) {
    return s.m_pData == nullptr ? vello_test::Bytes{}
                                : vello_test::Bytes(s.m_pData, s.m_pData + s.m_length);
  }
};

namespace {

using vello_test::Bytes;
using Inspector = EncryptedStringInspector;
// A version-2 record: the scrambled string record of UTF-8 under 512 bytes.
using recordbytes::EncryptedRecord;

// The key as OpenSSL takes it: the lowercase SHA-384 hex text of the pass
// phrase, of which a key schedule uses the first 72 bytes.
Bytes PassPhraseKey() {
  const std::string phrase = "Request rejected.";
  unsigned char digest[48];
  EVP_Digest(phrase.data(), phrase.size(), digest, nullptr, EVP_sha384(), nullptr);
  Bytes hex;
  for (int i = 0; i < 36; ++i)
    for (int shift : {4, 0}) hex.push_back("0123456789abcdef"[(digest[i] >> shift) & 15]);
  return hex;
}

Bytes PeerCbc(const Bytes& plain) {
  return vello_test::OpenSslBf("BF-CBC", true, PassPhraseKey(), Bytes(8, 0), plain);
}

// The plain form: 4-byte code units in host order, a zero unit, zeros to
// a multiple of 8.
Bytes PlainForm(const std::u32string& text) {
  Bytes out((text.size() + 2) / 2 * 8, 0);
  std::memcpy(out.data(), text.data(), text.size() * 4);
  return out;
}

std::wstring Wide(const std::u32string& text) { return std::wstring(text.begin(), text.end()); }

Bytes CipherRecord(int32_t count, const Bytes& bytes) {
  Bytes out;
  recordbytes::Int(out, 1);
  recordbytes::Int(out, count);
  out.insert(out.end(), bytes.begin(), bytes.end());
  return out;
}

// Reads a record from memory, or through a pipe (a stream that cannot tell
// how much is left); at is where reading stopped.
bool ReadRecord(CEncryptedString& s, const Bytes& bytes, long* at = nullptr, bool pipe = false) {
  const auto read = [&](CSysFile& file) { return s.Read(14, file); };
  return ReadFromMemory(bytes, read, pipe, at);
}

Bytes WrittenRecord(CEncryptedString& s) {
  bool ok = false;
  const Bytes bytes = WrittenToMemory([&](CSysFile& file) { return s.Write(14, file); }, &ok);
  EXPECT_TRUE(ok);
  return bytes;
}

TEST(EncryptedString, CipherIsCbcUnderTheHashedPassPhraseAsOpenSslComputesIt) {
  REQUIRE_OPENSSL_BLOWFISH();
  // The zero unit ends a block ("a", "abc") or starts one ("ab").
  for (const std::u32string text : {U"a", U"ab", U"abc", U"Gru\u00DF \U0001F600 \u20AC!"}) {
    SCOPED_TRACE(text.size());
    CEncryptedString s(Wide(text));
    EXPECT_EQ(Inspector::Cipher(s), PeerCbc(PlainForm(text)));
    EXPECT_EQ(s.GetString(), Wide(text));
  }

  // Empty texts change nothing; Close empties.
  CEncryptedString s(L"abc");
  const Bytes before = Inspector::Cipher(s);
  s.SetString(L"");
  EXPECT_EQ(Inspector::Cipher(s), before);
  s.Close();
  EXPECT_TRUE(Inspector::Cipher(s).empty());
  EXPECT_TRUE(Inspector::Cipher(CEncryptedString(L"")).empty());
}

TEST(EncryptedString, Utf8FormIsThePaddedUtf8AsOpenSslEnciphersIt) {
  REQUIRE_OPENSSL_BLOWFISH();
  // "abc" deciphers to itself and five zeros; the other is 2 + 3 + 4 bytes.
  const std::pair<std::u32string, std::string> texts[] = {
      {U"abc", "abc"}, {U"\u00E9\u20AC\U0001F600", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"}};
  for (const auto& [text, utf8] : texts) {
    Bytes plain(utf8.begin(), utf8.end());
    plain.resize(utf8.size() / 8 * 8 + 8, 0);  // at least one zero
    CEncryptedString s(Wide(text));
    unsigned char* buffer = nullptr;
    int length = 0;
    ASSERT_TRUE(s.EncryptAsUTF8(&buffer, length));
    std::unique_ptr<unsigned char[]> owned(buffer);
    ASSERT_EQ(static_cast<std::size_t>(length), plain.size());
    EXPECT_EQ(Bytes(buffer, buffer + length), PeerCbc(plain));
    ASSERT_TRUE(s.DecryptAsUTF8(&buffer, length));
    owned.release();
    owned.reset(buffer);
    EXPECT_EQ(Bytes(buffer, buffer + length), plain);
  }
}

TEST(EncryptedString, Utf8FormsLeaveTheirOutputsWhereThereIsNothingToDo) {
  unsigned char sentinel = 0x5A;
  unsigned char* untouched = &sentinel;
  int untouchedLength = 3;
  EXPECT_TRUE(CEncryptedString().EncryptAsUTF8(&untouched, untouchedLength));
  // A surrogate has no UTF-8 form.
  CEncryptedString surrogate(std::wstring(1, static_cast<wchar_t>(0xD800)));
  EXPECT_FALSE(surrogate.EncryptAsUTF8(&untouched, untouchedLength));
  EXPECT_EQ(untouched, &sentinel);
  EXPECT_EQ(untouchedLength, 3);

  // No whole blocks (refused), no bytes, no buffer.
  Bytes data(12, 0xA5);
  const std::tuple<unsigned char*, int, bool> decrypts[] = {
      {data.data(), 12, false}, {data.data(), 0, true}, {nullptr, 8, true}};
  for (auto [given, length, ok] : decrypts) {
    unsigned char* buffer = given;
    EXPECT_EQ(surrogate.DecryptAsUTF8(&buffer, length), ok) << length;
    EXPECT_EQ(buffer, given);
  }
  EXPECT_EQ(data, Bytes(12, 0xA5));
}

TEST(EncryptedString, Base64IsTheCipherAsOpenSslEncodesIt) {
  REQUIRE_OPENSSL_BLOWFISH();
  const Bytes cipher = PeerCbc(PlainForm(U"abc"));
  const std::string expected = vello_test::OpenSslBase64(cipher);
  const std::wstring base64 = CEncryptedString(L"abc").ToBase64();
  EXPECT_EQ(base64, std::wstring(expected.begin(), expected.end()));
  CEncryptedString other(L"old");
  other.FromBase64(base64);
  EXPECT_EQ(Inspector::Cipher(other), cipher);
  EXPECT_EQ(other.GetString(), L"abc");
  other.FromBase64(L"");
  EXPECT_EQ(other.GetString(), L"abc");
  EXPECT_EQ(CEncryptedString().ToBase64(), L"");
}

TEST(EncryptedString, FromBase64RefusesTextThatIsNoWholeCipher) {
  // 6 bytes: no whole block, so no value and no error.
  CEncryptedString s(L"old");
  s.FromBase64(L"AAAAAAAA");
  EXPECT_TRUE(Inspector::Cipher(s).empty());
  // The codec's own error passes to the caller, the value emptied.
  CEncryptedString t(L"old");
  EXPECT_EQ(basecodec::ErrorOf([&] { t.FromBase64(L"AAAAAAAAAAA"); }),
            "Invalid source, size is not a multiple of 4");
  EXPECT_TRUE(Inspector::Cipher(t).empty());
}

TEST(EncryptedString, RecordIsVersionTwoWithTheScrambledText) {
  const std::u32string text = U"Gru\u00DF \U0001F600";
  const Bytes record = EncryptedRecord("Gru\xC3\x9F \xF0\x9F\x98\x80");
  CEncryptedString s(Wide(text));
  EXPECT_EQ(WrittenRecord(s), record);
  CEncryptedString read;
  ASSERT_TRUE(ReadRecord(read, record));
  EXPECT_EQ(read.GetString(), Wide(text));

  // An empty value writes an empty text; reading one keeps the value.
  CEncryptedString empty;
  EXPECT_EQ(WrittenRecord(empty), EncryptedRecord(""));
  ASSERT_TRUE(ReadRecord(read, EncryptedRecord("")));
  EXPECT_EQ(read.GetString(), Wide(text));
}

TEST(EncryptedString, VersionOneRecordHoldsTheCipherAsStored) {
  REQUIRE_OPENSSL_BLOWFISH();
  const Bytes cipher = PeerCbc(PlainForm(U"abc"));
  const Bytes record = CipherRecord(16, cipher);
  for (bool pipe : {false, true}) {
    CEncryptedString s(L"old");
    ASSERT_TRUE(ReadRecord(s, record, nullptr, pipe));
    EXPECT_EQ(Inspector::Cipher(s), cipher);
    EXPECT_EQ(s.GetString(), L"abc");
    // Written back as text, never as cipher.
    EXPECT_EQ(WrittenRecord(s), EncryptedRecord("abc"));
  }

  // Counts of 0 or less hold nothing and succeed.
  for (int count : {0, -16}) {
    CEncryptedString e(L"old");
    EXPECT_TRUE(ReadRecord(e, CipherRecord(count, {})));
    EXPECT_EQ(e.GetString(), L"");
  }

  // A partial block is held but reads as no text.
  CEncryptedString s;
  ASSERT_TRUE(ReadRecord(s, CipherRecord(12, Bytes(cipher.begin(), cipher.begin() + 12))));
  EXPECT_EQ(Inspector::Cipher(s).size(), 12u);
  EXPECT_EQ(s.GetString(), L"");
}

TEST(EncryptedString, DamagedRecordsFailAndKeepTheValue) {
  CEncryptedString s(L"kept");
  const Bytes shortRun = CipherRecord(16, Bytes(10, 0x11));
  long position = 0;
  EXPECT_FALSE(ReadRecord(s, shortRun, &position));
  // Refused on the count alone, before any byte of the run was taken.
  EXPECT_EQ(position, 8);
  EXPECT_FALSE(ReadRecord(s, shortRun, nullptr, true));
  EXPECT_EQ(s.GetString(), L"kept");

  const Bytes whole = EncryptedRecord("abc");
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    EXPECT_FALSE(ReadRecord(s, Bytes(whole.begin(), whole.begin() + cut))) << cut;
    EXPECT_EQ(s.GetString(), L"kept");
  }
}

}  // namespace
