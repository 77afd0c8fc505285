#include "builder_package/PackageForm.h"

// Reads and writes the form record; its layout, field by field with each
// version gate, is in docs/format.md ("Form").

#include <algorithm>
#include <cstring>
#include <memory>

#include <openssl/crypto.h>

#include "builder_package/FormProgram.h"
#include "builder_package/PackedResource.h"
#include "builder_package/ProtectedSWF.h"
#include "builder_package/RecordReader.h"
#include "builder_package/RecordText.h"
#include "builder_package/Scramble.h"
#include "system/Assert.h"
#include "system/ByteRun.h"
#include "system/SysFile.h"

namespace {

// A size and the byte run after it, taken together once every byte arrived.
bool ReadRun(RecordReader& in, const char* field, ByteRun& buffer, int& size) {
  ByteRun run;
  int length = 0;
  if (!in.SizedRun(field, length, run)) return false;
  buffer = std::move(run);
  size = length;
  return true;
}

bool WriteRun(CSysFile& file, const ByteRun& buffer, int size) {
  return buffer != nullptr && file.Write(buffer.get(), size) == size;
}

// Reads a whole file as a program to store: true with a new scrambled
// buffer, false with the outputs untouched.
bool ReadScrambledProgram(const std::wstring& path, ByteRun& buffer, int& size) {
  ByteRun data;
  int length = 0;
  if (!CSysFile::ReadRunFromDisk(path, data, length)) return false;
  Scramble::Apply(data.get(), length, Scramble::kProgram);
  buffer = std::move(data);
  size = length;
  return true;
}

// Writes a stored plain program descrambled, a piece at a time, so that no
// copy of the whole program is made.
bool WriteDescrambled(const std::wstring& path, const unsigned char* stored, int size) {
  if (size < 0 || (size > 0 && stored == nullptr)) return false;
  CSysFile file;
  if (!file.Open(path, L"wb+")) return false;
  // One huge page (ByteRun.h): a single fault, and a piece that the write
  // finds in the cache.
  constexpr std::size_t kPiece = kByteRunPage;
  const std::size_t total = static_cast<std::size_t>(size);
  const ByteRun piece = NewByteRun(std::min(kPiece, total));
  for (std::size_t at = 0; at < total; at += kPiece) {
    const std::size_t n = std::min(kPiece, total - at);
    Scramble::ApplyPiece(stored + at, piece.get(), n, size, at, Scramble::kProgram);
    if (file.Write(piece.get(), static_cast<int>(n)) != static_cast<int>(n)) return false;
  }
  return file.Flush();
}

// A program handed out as the Unpack...ToRam operations promise: out and
// size change only when it is taken.
bool HandOut(const CPackageForm& form, FormProgram::Program which, unsigned char** out, int& size) {
  std::unique_ptr<unsigned char[]> program;
  int n = 0;
  std::string why;
  if (FormProgram::ReadArray(form, which, nullptr, FormProgram::Length::stored, program, n, why) !=
      FormProgram::Outcome::taken)
    return false;
  *out = program.release();
  size = n;
  return true;
}

// The plain scramble's mask of byte 3, (L + 33*3 + 122) mod 256, in a type
// wide enough for any L.
int ProgramByte3Mask(int length) {
  return static_cast<int>((static_cast<long long>(length) + 3 * 33 + Scramble::kProgram) & 0xFF);
}

// Key text is the private key itself (its scramble has no key): wiped
// before its memory goes back.
void FreeSecret(ByteRun& buffer, int length) {
  if (buffer != nullptr && length > 0) OPENSSL_cleanse(buffer.get(), static_cast<std::size_t>(length));
  buffer.reset();
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
      m_SWFLength(0),
      m_SWFOffset(-1),
      m_packedMaskSize(0), m_unpackedMaskSize(0),
      m_formUInt1(0),
      m_formFlag11(true),
      m_formInt15(0), m_formInt16(0), m_formInt17(0),
      m_formName(L"form"),
      m_formInt18(0),
      m_saverPreviewSize(0),
      m_saverSettingsSize(0),
      m_formFlag12(false),
      m_formUInt2(0),
      m_formInt19(0), m_formInt20(0),
      m_keyTextLength(0),
      m_SWFVersion(0),
      m_formFlag13(false),
      m_storedVersion(kNewestVersion) {}

CPackageForm::~CPackageForm() { Release(); }

void CPackageForm::ReleaseSWF() {
  m_pSWF.reset();
  m_SWFOffset = -1;
}
void CPackageForm::ReleaseMask() { m_pMask.reset(); }
void CPackageForm::ReleaseSaverPreview() { m_pSaverPreview.reset(); }
void CPackageForm::ReleaseSaverSettings() { m_pSaverSettings.reset(); }

void CPackageForm::Release() {
  ReleaseSWF();
  ReleaseMask();
  ReleaseSaverPreview();
  ReleaseSaverSettings();
  FreeSecret(m_pKeyText, m_keyTextLength);
}

bool CPackageForm::Read(unsigned int version, CSysFile& file) {
  return Read(version, file, PackageReadOptions{});
}

bool CPackageForm::ReadMainProgram(RecordReader& in, const PackageReadOptions& options) {
  if (!options.leaveMainProgramsInFile || !in.File().CanReadAt())
    return ReadRun(in, "m_SWFLength", m_pSWF, m_SWFLength);
  int length = 0;
  long long offset = -1;
  if (!in.Size("m_SWFLength", length)) return false;
  if (length > 0 && !in.Place("m_SWFLength", length, offset)) return false;
  m_SWFLength = length;
  m_SWFOffset = offset;
  return true;
}

bool CPackageForm::Read(unsigned int /*version*/, CSysFile& file, const PackageReadOptions& options) {
  // Buffers go with their sizes, so a failed read never leaves a size
  // without its bytes.
  Release();
  m_SWFLength = m_packedMaskSize = m_unpackedMaskSize = 0;
  m_saverPreviewSize = m_saverSettingsSize = m_keyTextLength = 0;
  m_readFailure.Clear();
  RecordReader in(file, m_readFailure, "form");

  int version = 0;
  if (!in.Int("formVersion", version)) return false;
  m_storedVersion = version;

  // Fields present in every form version.
  if (!(in.Text("m_formString1", m_formString1) && in.Bool("m_formFlag1", m_formFlag1) &&
        in.Int("m_formInt1", m_formInt1) && in.Int("m_formInt2", m_formInt2) &&
        in.Int("m_formInt3", m_formInt3) && in.Int("m_formInt4", m_formInt4) &&
        in.Int("m_formInt5", m_formInt5) && in.Int("m_formInt6", m_formInt6) &&
        in.Int("m_formInt7", m_formInt7) && in.Bool("m_formFlag2", m_formFlag2) &&
        in.Bool("m_formFlag3", m_formFlag3) && in.Bool("m_formFlag4", m_formFlag4) &&
        in.Int("m_formInt8", m_formInt8) && in.Bool("m_formFlag5", m_formFlag5) &&
        in.Bool("m_formFlag6", m_formFlag6) && in.Bool("m_formFlag7", m_formFlag7) &&
        in.Bool("m_formFlag8", m_formFlag8) && in.Int("m_formInt9", m_formInt9) &&
        in.Int("m_formInt10", m_formInt10) && in.Int("m_formInt11", m_formInt11) &&
        in.Int("m_formInt12", m_formInt12) && in.Int("m_formInt13", m_formInt13) &&
        in.Int("m_formInt14", m_formInt14) && in.Text("m_formString2", m_formString2) &&
        in.Bool("m_formFlag9", m_formFlag9) && in.Bool("m_formFlag10", m_formFlag10) &&
        ReadMainProgram(in, options)))
    return false;

  if (version >= 2) {
    int packed = 0;
    int unpacked = 0;
    ByteRun mask;
    if (!(in.Size("m_packedMaskSize", packed) && in.Size("m_unpackedMaskSize", unpacked)))
      return false;
    if (packed > 0 && !in.Run("m_packedMaskSize", packed, mask)) return false;
    m_pMask = std::move(mask);
    m_packedMaskSize = packed;
    m_unpackedMaskSize = unpacked;
  }
  if (version >= 3 && !in.UInt("m_formUInt1", m_formUInt1)) return false;
  if (version >= 4 && !in.Bool("m_formFlag11", m_formFlag11)) return false;
  if (version >= 5 && !(in.Int("m_formInt15", m_formInt15) && in.Int("m_formInt16", m_formInt16) &&
                        in.Int("m_formInt17", m_formInt17)))
    return false;
  if (version >= 6 && !in.Text("m_formName", m_formName)) return false;
  if (version >= 7 && !in.Int("m_formInt18", m_formInt18)) return false;
  if (version >= 8 &&
      !(ReadRun(in, "m_saverPreviewSize", m_pSaverPreview, m_saverPreviewSize) &&
        ReadRun(in, "m_saverSettingsSize", m_pSaverSettings, m_saverSettingsSize)))
    return false;
  if (version >= 9 && !(in.Bool("m_formFlag12", m_formFlag12) && in.UInt("m_formUInt2", m_formUInt2)))
    return false;
  if (version >= 10 && !(in.Int("m_formInt19", m_formInt19) && in.Int("m_formInt20", m_formInt20)))
    return false;
  if (version >= 11 && !ReadRun(in, "m_keyTextLength", m_pKeyText, m_keyTextLength)) return false;
  if (version >= 12 && !in.Int("m_SWFVersion", m_SWFVersion)) return false;
  if (version >= 14 && !in.Bool("m_formFlag13", m_formFlag13)) return false;
  return true;
}

bool CPackageForm::Write(unsigned int /*version*/, CSysFile& file) {
  // An empty main program is written as length 0 and no bytes; a non-empty
  // one whose buffer is gone is a caller's mistake. One the read left in
  // its file was never in memory: refused, so a save keeps the old file.
  if (m_SWFLength != 0 && m_pSWF == nullptr && m_SWFOffset >= 0) return false;
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
  m_SWFOffset = -1;
  // The form is plain now: key text left behind would make readers decode
  // the plain bytes as protected blocks.
  FreeSecret(m_pKeyText, m_keyTextLength);
  m_keyTextLength = 0;
  return true;
}

bool CPackageForm::PackProtected(const std::wstring& path, const std::string& text) {
  ByteRun program;
  int length = 0;
  if (!CSysFile::ReadRunFromDisk(path, program, length)) return false;
  // The program is what protection keeps from view: wiped once packed.
  struct WipeProgram {
    unsigned char* p;
    int n;
    ~WipeProgram() {
      if (n > 0) OPENSSL_cleanse(p, static_cast<std::size_t>(n));
    }
  } wipeProgram{program.get(), length};

  // Every failure leaves the form as it was: a half-made protected form
  // would be stored as content no reader can recover.
  ProtectedSWF::Packed packed;
  if (!ProtectedSWF::Pack(program.get(), length, text, packed)) return false;
  ByteRun payload = NewByteRun(packed.payload.size());
  ByteRun keyText = NewByteRun(packed.keyText.size());
  std::copy(packed.payload.begin(), packed.payload.end(), payload.get());
  std::copy(packed.keyText.begin(), packed.keyText.end(), keyText.get());

  m_pSWF = std::move(payload);
  m_SWFOffset = -1;
  m_SWFLength = static_cast<int>(packed.payload.size());
  FreeSecret(m_pKeyText, m_keyTextLength);
  m_pKeyText = std::move(keyText);
  m_keyTextLength = static_cast<int>(packed.keyText.size());
  // Byte 3 of an SWF header is its version; a shorter file has none.
  m_SWFVersion = length >= 4 ? program[3] : 0;
  return true;
}

bool CPackageForm::UnpackSWFToRam(unsigned char** out, int& size) {
  VELLO_ASSERT(out != NULL);
  return HandOut(*this, FormProgram::Program::main, out, size);
}

bool CPackageForm::UnpackSWF(const std::wstring& path) {
  if (!IsProtected()) return WriteDescrambled(path, m_pSWF.get(), m_SWFLength);
  std::unique_ptr<unsigned char[]> program;
  int decoded = 0;
  std::string why;
  if (FormProgram::ReadArray(*this, FormProgram::Program::main, nullptr, FormProgram::Length::decoded, program,
                             decoded, why) != FormProgram::Outcome::taken)
    return false;
  const bool written = CSysFile::WriteFromRamToDisk(path, program.get(), decoded);
  // Deciphered content stays in memory no longer than it is needed.
  OPENSSL_cleanse(program.get(), static_cast<std::size_t>(m_SWFLength));
  return written;
}

bool CPackageForm::PackMask(const std::wstring& path) {
  ReleaseMask();
  // Cleared first so that a failed pack leaves a form that writes cleanly.
  m_packedMaskSize = 0;
  m_unpackedMaskSize = 0;
  ByteRun packed;
  int packedSize = 0;
  int unpackedSize = 0;
  if (!PackedResource::Pack(path, 9, Scramble::kProgram, packed, packedSize, unpackedSize))
    return false;
  m_pMask = std::move(packed);
  m_packedMaskSize = packedSize;
  m_unpackedMaskSize = unpackedSize;
  return true;
}

bool CPackageForm::UnpackMaskToRam(unsigned char** pp, int& size) {
  VELLO_ASSERT(m_pMask != NULL);
  VELLO_ASSERT(pp != NULL);
  return PackedResource::Unpack(m_pMask.get(), m_packedMaskSize, m_unpackedMaskSize, Scramble::kProgram,
                                pp, size);
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
  return HandOut(*this, FormProgram::Program::preview, out, size);
}

bool CPackageForm::UnpackSaverSettingsToRam(unsigned char** out, int& size) {
  VELLO_ASSERT(out != NULL);
  *out = nullptr;
  size = m_saverSettingsSize;
  return HandOut(*this, FormProgram::Program::settings, out, size);
}
