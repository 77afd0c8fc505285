#include "builder_package/PackageForm.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include <openssl/crypto.h>
#include <zlib.h>

#include "builder_package/ProtectedSWF.h"
#include "builder_package/RecordText.h"
#include "builder_package/Scramble.h"
#include "system/Assert.h"
#include "system/HugePages.h"
#include "system/SysFile.h"

namespace {

// A byte run of a record: read into a new array of exactly size bytes, but
// never allocate more than the file can still hand over.
bool ReadRun(CSysFile& file, unsigned char*& buffer, int size) {
  const long long remaining = file.Remaining();
  if (remaining >= 0 && size > remaining) return false;
  std::unique_ptr<unsigned char[]> run(new unsigned char[size]);
  if (file.Read(run.get(), size) != size) return false;
  buffer = run.release();
  return true;
}

bool WriteRun(CSysFile& file, const unsigned char* buffer, int size) {
  return buffer != nullptr && file.Write(buffer, size) == size;
}

// zlib cannot expand data by more than about 1032:1; a stored unpacked size
// beyond that cannot be genuine and must not drive an allocation.
bool PlausibleUnpackedSize(int packed, int unpacked) {
  return unpacked > 0 && packed > 0 &&
         static_cast<long long>(unpacked) <= static_cast<long long>(packed) * 1032 + 64;
}

// Reads a whole file as a program to store: true with a new scrambled
// buffer, false with the outputs untouched.
bool ReadScrambledProgram(const std::wstring& path, unsigned char*& buffer, int& size) {
  unsigned char* data = nullptr;
  int length = 0;
  if (!CSysFile::ReadToRamFromDisk(path, &data, length)) return false;
  Scramble::Apply(data, length, Scramble::kProgram);
  delete[] buffer;
  buffer = data;
  size = length;
  return true;
}

// Hands out a descrambled copy of a stored plain program.
bool CopyDescrambled(const unsigned char* stored, int size, unsigned char** out) {
  if (size < 0 || (size > 0 && stored == nullptr)) return false;
  auto* copy = new unsigned char[size];
  AdviseHugePages(copy, static_cast<std::size_t>(size));
  Scramble::ApplyPiece(stored, copy, static_cast<std::size_t>(size), size, 0, Scramble::kProgram);
  *out = copy;
  return true;
}

// Writes a stored plain program descrambled, a piece at a time, so that no
// copy of the whole program is made.
bool WriteDescrambled(const std::wstring& path, const unsigned char* stored, int size) {
  if (size < 0 || (size > 0 && stored == nullptr)) return false;
  CSysFile file;
  if (!file.Open(path, L"wb+")) return false;
  constexpr std::size_t kPiece = 256 * 1024;
  const std::size_t total = static_cast<std::size_t>(size);
  std::unique_ptr<unsigned char[]> piece(new unsigned char[std::min(kPiece, total)]);
  for (std::size_t at = 0; at < total; at += kPiece) {
    const std::size_t n = std::min(kPiece, total - at);
    Scramble::ApplyPiece(stored + at, piece.get(), n, size, at, Scramble::kProgram);
    if (file.Write(piece.get(), static_cast<int>(n)) != static_cast<int>(n)) return false;
  }
  return file.Flush();
}

// The plain scramble's mask of byte 3, (L + 33*3 + 122) mod 256, in a type
// wide enough for any L.
int ProgramByte3Mask(int length) {
  return static_cast<int>((static_cast<long long>(length) + 3 * 33 + Scramble::kProgram) & 0xFF);
}

void FreeBuffer(unsigned char*& buffer) {
  delete[] buffer;
  buffer = nullptr;
}

// Key text is the private key itself (its scramble has no key): wiped
// before its memory goes back.
void FreeSecret(unsigned char*& buffer, int length) {
  if (buffer != nullptr && length > 0) OPENSSL_cleanse(buffer, static_cast<std::size_t>(length));
  FreeBuffer(buffer);
}

}  // namespace

CPackageForm::CPackageForm()
    : m_formFlag1(false),
      m_formInt1(0), m_formInt2(0), m_formInt3(0), m_formInt4(0),
      m_formInt5(0), m_formInt6(0), m_formInt7(0),
      m_formFlag2(false), m_formFlag3(false), m_formFlag4(false),
      m_formInt8(0),
      m_formFlag5(false), m_formFlag6(false), m_formFlag7(false), m_formFlag8(false),
      m_formInt9(0), m_formInt10(0), m_formInt11(0), m_formInt12(0),
      m_formInt13(0), m_formInt14(0),
      m_formFlag9(false), m_formFlag10(false),
      m_pSWF(nullptr), m_SWFLength(0),
      m_pMask(nullptr), m_packedMaskSize(0), m_unpackedMaskSize(0),
      m_formUInt1(0),
      m_formFlag11(true),
      m_formInt15(0), m_formInt16(0), m_formInt17(0),
      m_formName(L"form"),
      m_formInt18(0),
      m_pSaverPreview(nullptr), m_saverPreviewSize(0),
      m_pSaverSettings(nullptr), m_saverSettingsSize(0),
      m_formFlag12(false),
      m_formUInt2(0),
      m_formInt19(0), m_formInt20(0),
      m_pKeyText(nullptr), m_keyTextLength(0),
      m_SWFVersion(0),
      m_formFlag13(false),
      m_storedVersion(kNewestVersion) {}

CPackageForm::~CPackageForm() { Release(); }

void CPackageForm::ReleaseSWF() { FreeBuffer(m_pSWF); }
void CPackageForm::ReleaseMask() { FreeBuffer(m_pMask); }
void CPackageForm::ReleaseSaverPreview() { FreeBuffer(m_pSaverPreview); }
void CPackageForm::ReleaseSaverSettings() { FreeBuffer(m_pSaverSettings); }

void CPackageForm::Release() {
  ReleaseSWF();
  ReleaseMask();
  ReleaseSaverPreview();
  ReleaseSaverSettings();
  FreeSecret(m_pKeyText, m_keyTextLength);
}

bool CPackageForm::Read(unsigned int /*version*/, CSysFile& file) {
  Release();
  int version = 0;
  if (!file.ReadInt(version)) return false;
  m_storedVersion = version;

  // Fields present in every form version.
  if (!(ReadRecordText(file, m_formString1) && file.ReadBool(m_formFlag1) &&
        file.ReadInt(m_formInt1) && file.ReadInt(m_formInt2) && file.ReadInt(m_formInt3) &&
        file.ReadInt(m_formInt4) && file.ReadInt(m_formInt5) && file.ReadInt(m_formInt6) &&
        file.ReadInt(m_formInt7) &&
        file.ReadBool(m_formFlag2) && file.ReadBool(m_formFlag3) && file.ReadBool(m_formFlag4) &&
        file.ReadInt(m_formInt8) &&
        file.ReadBool(m_formFlag5) && file.ReadBool(m_formFlag6) && file.ReadBool(m_formFlag7) &&
        file.ReadBool(m_formFlag8) &&
        file.ReadInt(m_formInt9) && file.ReadInt(m_formInt10) && file.ReadInt(m_formInt11) &&
        file.ReadInt(m_formInt12) && file.ReadInt(m_formInt13) && file.ReadInt(m_formInt14) &&
        ReadRecordText(file, m_formString2) &&
        file.ReadBool(m_formFlag9) && file.ReadBool(m_formFlag10) &&
        file.ReadInt(m_SWFLength)))
    return false;
  // Negative lengths would become array sizes in the unpack operations.
  if (m_SWFLength < 0) return false;
  if (m_SWFLength > 0 && !ReadRun(file, m_pSWF, m_SWFLength)) return false;

  if (version >= 2) {
    if (!(file.ReadInt(m_packedMaskSize) && file.ReadInt(m_unpackedMaskSize))) return false;
    if (m_packedMaskSize < 0 || m_unpackedMaskSize < 0) return false;
    if (m_packedMaskSize > 0 && !ReadRun(file, m_pMask, m_packedMaskSize)) return false;
  }
  if (version >= 3 && !file.ReadUInt(m_formUInt1)) return false;
  if (version >= 4 && !file.ReadBool(m_formFlag11)) return false;
  if (version >= 5 &&
      !(file.ReadInt(m_formInt15) && file.ReadInt(m_formInt16) && file.ReadInt(m_formInt17)))
    return false;
  if (version >= 6 && !ReadRecordText(file, m_formName)) return false;
  if (version >= 7 && !file.ReadInt(m_formInt18)) return false;
  if (version >= 8) {
    if (!file.ReadInt(m_saverPreviewSize) || m_saverPreviewSize < 0) return false;
    if (m_saverPreviewSize > 0 && !ReadRun(file, m_pSaverPreview, m_saverPreviewSize))
      return false;
    if (!file.ReadInt(m_saverSettingsSize) || m_saverSettingsSize < 0) return false;
    if (m_saverSettingsSize > 0 && !ReadRun(file, m_pSaverSettings, m_saverSettingsSize))
      return false;
  }
  if (version >= 9 && !(file.ReadBool(m_formFlag12) && file.ReadUInt(m_formUInt2))) return false;
  if (version >= 10 && !(file.ReadInt(m_formInt19) && file.ReadInt(m_formInt20))) return false;
  if (version >= 11) {
    if (!file.ReadInt(m_keyTextLength) || m_keyTextLength < 0) return false;
    if (m_keyTextLength != 0 && !ReadRun(file, m_pKeyText, m_keyTextLength)) return false;
  }
  if (version >= 12 && !file.ReadInt(m_SWFVersion)) return false;
  if (version >= 14 && !file.ReadBool(m_formFlag13)) return false;
  return true;
}

bool CPackageForm::Write(unsigned int /*version*/, CSysFile& file) {
  // An empty main program is written as length 0 and no bytes; a non-empty
  // one whose buffer is gone is a caller's mistake.
  if (m_SWFLength != 0) VELLO_ASSERT(m_pSWF != NULL);

  // Byte runs follow their sizes: a size whose buffer was released cannot
  // be written, as readers would take the next fields for its bytes.
  return file.WriteInt(kNewestVersion) &&
         WriteRecordText(file, m_formString1) && file.WriteBool(m_formFlag1) &&
         file.WriteInt(m_formInt1) && file.WriteInt(m_formInt2) && file.WriteInt(m_formInt3) &&
         file.WriteInt(m_formInt4) && file.WriteInt(m_formInt5) && file.WriteInt(m_formInt6) &&
         file.WriteInt(m_formInt7) &&
         file.WriteBool(m_formFlag2) && file.WriteBool(m_formFlag3) &&
         file.WriteBool(m_formFlag4) &&
         file.WriteInt(m_formInt8) &&
         file.WriteBool(m_formFlag5) && file.WriteBool(m_formFlag6) &&
         file.WriteBool(m_formFlag7) && file.WriteBool(m_formFlag8) &&
         file.WriteInt(m_formInt9) && file.WriteInt(m_formInt10) && file.WriteInt(m_formInt11) &&
         file.WriteInt(m_formInt12) && file.WriteInt(m_formInt13) && file.WriteInt(m_formInt14) &&
         WriteRecordText(file, m_formString2) &&
         file.WriteBool(m_formFlag9) && file.WriteBool(m_formFlag10) &&
         file.WriteInt(m_SWFLength) &&
         (m_SWFLength <= 0 || WriteRun(file, m_pSWF, m_SWFLength)) &&
         file.WriteInt(m_packedMaskSize) && file.WriteInt(m_unpackedMaskSize) &&
         (m_packedMaskSize <= 0 || WriteRun(file, m_pMask, m_packedMaskSize)) &&
         file.WriteUInt(m_formUInt1) &&
         file.WriteBool(m_formFlag11) &&
         file.WriteInt(m_formInt15) && file.WriteInt(m_formInt16) && file.WriteInt(m_formInt17) &&
         WriteRecordText(file, m_formName) &&
         file.WriteInt(m_formInt18) &&
         file.WriteInt(m_saverPreviewSize) &&
         (m_saverPreviewSize <= 0 || WriteRun(file, m_pSaverPreview, m_saverPreviewSize)) &&
         file.WriteInt(m_saverSettingsSize) &&
         (m_saverSettingsSize <= 0 || WriteRun(file, m_pSaverSettings, m_saverSettingsSize)) &&
         file.WriteBool(m_formFlag12) && file.WriteUInt(m_formUInt2) &&
         file.WriteInt(m_formInt19) && file.WriteInt(m_formInt20) &&
         file.WriteInt(m_keyTextLength) &&
         (m_keyTextLength == 0 || WriteRun(file, m_pKeyText, m_keyTextLength)) &&
         file.WriteInt(m_SWFVersion) &&
         file.WriteBool(m_formFlag13);
}

int CPackageForm::GetSWFVersion() const {
  if (IsProtected()) return m_SWFVersion;
  // Byte 3 of an SWF header is its version; undo that byte's scramble.
  if (m_pSWF == nullptr || m_SWFLength < 4) return 0;
  return m_pSWF[3] ^ ProgramByte3Mask(m_SWFLength);
}

void CPackageForm::SetSWFVersion(int value) {
  if (IsProtected() || m_pSWF == nullptr || m_SWFLength < 4) return;
  m_pSWF[3] = static_cast<unsigned char>(ProgramByte3Mask(m_SWFLength) ^ value);
}

bool CPackageForm::PackSWF(const std::wstring& path, bool protect, const std::string& text) {
  if (protect) return PackProtected(path, text);
  if (!ReadScrambledProgram(path, m_pSWF, m_SWFLength)) return false;
  // The form is plain now: key text left behind would make readers decode
  // the plain bytes as protected blocks.
  FreeSecret(m_pKeyText, m_keyTextLength);
  m_keyTextLength = 0;
  return true;
}

bool CPackageForm::PackProtected(const std::wstring& path, const std::string& text) {
  unsigned char* data = nullptr;
  int length = 0;
  if (!CSysFile::ReadToRamFromDisk(path, &data, length)) return false;
  std::unique_ptr<unsigned char[]> program(data);
  // The program is what protection keeps from view: wiped once packed.
  struct WipeProgram {
    unsigned char* p;
    int n;
    ~WipeProgram() {
      if (n > 0) OPENSSL_cleanse(p, static_cast<std::size_t>(n));
    }
  } wipeProgram{data, length};

  // Every failure leaves the form as it was: a half-made protected form
  // would be stored as content no reader can recover.
  ProtectedSWF::Packed packed;
  if (!ProtectedSWF::Pack(program.get(), length, text, packed)) return false;
  std::unique_ptr<unsigned char[]> payload(new unsigned char[packed.payload.size()]);
  std::unique_ptr<unsigned char[]> keyText(new unsigned char[packed.keyText.size()]);
  std::copy(packed.payload.begin(), packed.payload.end(), payload.get());
  std::copy(packed.keyText.begin(), packed.keyText.end(), keyText.get());

  delete[] m_pSWF;
  m_pSWF = payload.release();
  m_SWFLength = static_cast<int>(packed.payload.size());
  FreeSecret(m_pKeyText, m_keyTextLength);
  m_pKeyText = keyText.release();
  m_keyTextLength = static_cast<int>(packed.keyText.size());
  // Byte 3 of an SWF header is its version; a shorter file has none.
  m_SWFVersion = length >= 4 ? program[3] : 0;
  return true;
}

bool CPackageForm::DecodeSWF(std::unique_ptr<unsigned char[]>& program, int& decodedLength) const {
  if (m_SWFLength < 0 || (m_SWFLength > 0 && m_pSWF == nullptr)) return false;
  if (!IsProtected()) {
    unsigned char* plain = nullptr;
    if (!CopyDescrambled(m_pSWF, m_SWFLength, &plain)) return false;
    program.reset(plain);
    decodedLength = m_SWFLength;
    return true;
  }
  // Zero-filled: the decoded program is shorter than the payload, and the
  // bytes after it are handed out too.
  std::unique_ptr<unsigned char[]> decoded(new unsigned char[m_SWFLength]());
  if (!ProtectedSWF::Unpack(m_pSWF, m_SWFLength, m_pKeyText, m_keyTextLength, decoded.get(),
                            m_SWFLength, decodedLength))
    return false;
  program = std::move(decoded);
  return true;
}

bool CPackageForm::UnpackSWFToRam(unsigned char** out, int& size) {
  VELLO_ASSERT(out != NULL);
  std::unique_ptr<unsigned char[]> program;
  int decodedLength = 0;
  if (!DecodeSWF(program, decodedLength)) return false;
  *out = program.release();
  size = m_SWFLength;  // the payload length, also for protected content
  return true;
}

bool CPackageForm::UnpackSWF(const std::wstring& path) {
  if (!IsProtected()) return WriteDescrambled(path, m_pSWF, m_SWFLength);
  std::unique_ptr<unsigned char[]> program;
  int decodedLength = 0;
  if (!DecodeSWF(program, decodedLength)) return false;
  const bool written = CSysFile::WriteFromRamToDisk(path, program.get(), decodedLength);
  // Deciphered content stays in memory no longer than it is needed.
  OPENSSL_cleanse(program.get(), static_cast<std::size_t>(m_SWFLength));
  return written;
}

bool CPackageForm::PackMask(const std::wstring& path) {
  ReleaseMask();
  // Cleared first so that a failed pack leaves a form that writes cleanly.
  m_packedMaskSize = 0;
  m_unpackedMaskSize = 0;

  unsigned char* data = nullptr;
  int length = 0;
  if (!CSysFile::ReadToRamFromDisk(path, &data, length)) return false;
  std::unique_ptr<unsigned char[]> source(data);
  if (length <= 0) return false;

  // Capacity equal to the input: a mask that does not shrink is refused.
  std::unique_ptr<unsigned char[]> packed(new unsigned char[length]);
  uLongf packedLength = static_cast<uLongf>(length);
  if (compress2(packed.get(), &packedLength, source.get(), static_cast<uLong>(length), 9) != Z_OK)
    return false;

  m_pMask = packed.release();
  m_packedMaskSize = static_cast<int>(packedLength);
  m_unpackedMaskSize = length;
  Scramble::Apply(m_pMask, m_packedMaskSize, Scramble::kProgram);
  return true;
}

bool CPackageForm::UnpackMaskToRam(unsigned char** pp, int& size) {
  VELLO_ASSERT(m_pMask != NULL);
  VELLO_ASSERT(pp != NULL);
  if (!PlausibleUnpackedSize(m_packedMaskSize, m_unpackedMaskSize)) return false;

  std::unique_ptr<unsigned char[]> copy(new unsigned char[m_packedMaskSize]);
  std::memcpy(copy.get(), m_pMask, m_packedMaskSize);
  Scramble::Apply(copy.get(), m_packedMaskSize, Scramble::kProgram);

  std::unique_ptr<unsigned char[]> mask(new unsigned char[m_unpackedMaskSize]);
  uLongf maskLength = static_cast<uLongf>(m_unpackedMaskSize);
  // A stream that inflates to fewer bytes than recorded would hand out
  // bytes nobody wrote.
  if (uncompress(mask.get(), &maskLength, copy.get(), static_cast<uLong>(m_packedMaskSize)) !=
          Z_OK ||
      maskLength != static_cast<uLongf>(m_unpackedMaskSize))
    return false;
  *pp = mask.release();
  size = m_unpackedMaskSize;
  return true;
}

bool CPackageForm::PackSaverPreview(const std::wstring& path) {
  return ReadScrambledProgram(path, m_pSaverPreview, m_saverPreviewSize);
}

bool CPackageForm::PackSaverSettings(const std::wstring& path) {
  return ReadScrambledProgram(path, m_pSaverSettings, m_saverSettingsSize);
}

bool CPackageForm::UnpackSaverPreviewToRam(unsigned char** out, int& size) {
  VELLO_ASSERT(out != NULL);
  *out = nullptr;
  size = m_saverPreviewSize;
  return m_saverPreviewSize > 0 && CopyDescrambled(m_pSaverPreview, m_saverPreviewSize, out);
}

bool CPackageForm::UnpackSaverSettingsToRam(unsigned char** out, int& size) {
  VELLO_ASSERT(out != NULL);
  *out = nullptr;
  size = m_saverSettingsSize;
  return m_saverSettingsSize > 0 && CopyDescrambled(m_pSaverSettings, m_saverSettingsSize, out);
}
