#include "tools/vello/FormContent.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cerrno>
#include <memory>

#include "builder_package/PackageForm.h"
#include "builder_package/ProtectedSWF.h"
#include "builder_package/Scramble.h"
#include "system/SysFile.h"
#include "tools/vello/PackageContent.h"
#include "tools/vello/SwfCheck.h"

namespace {

using Unpacker = bool (CPackageForm::*)(unsigned char**, int&);

bool Take(CPackageForm& form, Unpacker unpack, ByteVector& out) {
  unsigned char* data = nullptr;
  int size = 0;
  if (!(form.*unpack)(&data, size)) return false;
  const std::unique_ptr<unsigned char[]> owned(data);
  out.assign(data, data + size);
  return true;
}

bool TakeCompanion(CPackageForm& form, int size, Unpacker unpack, ByteVector& out, std::string& problem) {
  problem.clear();
  if (size == 0) return false;
  if (size < 0) {
    problem = "has a negative size " + std::to_string(size);
    return false;
  }
  if (Take(form, unpack, out)) return true;
  problem = "does not unpack";
  return false;
}

}  // namespace

namespace {

bool HasStoredBytes(const CPackageForm& form, std::string& problem) {
  const int length = form.GetSWFSize();
  if (length < 0 || (length > 0 && form.GetStoredSWF() == nullptr)) {
    problem = "has no stored bytes for its size " + std::to_string(length);
    return false;
  }
  return true;
}

// A protected program decoded from its stored blocks and cut at the length
// its SWF header states.
bool DecodeProtected(const CPackageForm& form, const unsigned char* stored, ByteVector& out, std::string& problem) {
  ByteVector decoded;
  if (!ProtectedSWF::Unpack(stored, form.GetSWFSize(), form.GetKeyText(), form.GetKeyTextLength(), decoded)) {
    bool encrypted = false;
    RsaKeyBits(form, &encrypted);
    problem = encrypted ? "does not decode: " + std::string(kEncryptedKey)
                        : "does not decode: its key text or protected blocks are damaged";
    return false;
  }
  const SwfCheck swf = CheckSwf(decoded.data(), decoded.size());
  if (swf.ok()) decoded.resize(swf.fileLength);
  out = std::move(decoded);
  return true;
}

}  // namespace

bool MainProgramFile(const CPackageForm& form, CSysFile* packageFile, FileContent& out, std::string& problem) {
  const int length = form.GetSWFSize();
  const long long offset = form.GetStoredSWFOffset();
  if (offset < 0 || length <= 0) {
    if (!HasStoredBytes(form, problem)) return false;
    if (!form.IsProtected() && length > 0) {
      out = FileContent::Descrambled(form.GetStoredSWF(), length, Scramble::kProgram);
      return true;
    }
    ByteVector bytes;
    if (!MainProgram(form, bytes, problem)) return false;
    out = FileContent::Held(std::move(bytes));
    return true;
  }
  // Left in the package file by the read.
  if (packageFile == nullptr) {
    problem = "was left in a package file that is not at hand";
    return false;
  }
  if (!form.IsProtected()) {
    out = FileContent::DescrambledFromFile(*packageFile, offset, length, Scramble::kProgram);
    return true;
  }
  ByteVector stored(static_cast<std::size_t>(length));
  const int got = packageFile->ReadAt(offset, stored.data(), length);
  if (got != length) {
    if (got >= 0) errno = 0;  // the file ends early
    problem = "cannot be read: " + FileContent::WhyNotRead();
    return false;
  }
  ByteVector program;
  if (!DecodeProtected(form, stored.data(), program, problem)) return false;
  out = FileContent::Held(std::move(program));
  return true;
}

bool MainProgram(const CPackageForm& form, ByteVector& out, std::string& problem) {
  if (!HasStoredBytes(form, problem)) return false;
  const int length = form.GetSWFSize();
  if (!form.IsProtected()) {
    out.assign(form.GetStoredSWF(), form.GetStoredSWF() + length);
    Scramble::Apply(out.data(), length, Scramble::kProgram);
    return true;
  }
  return DecodeProtected(form, form.GetStoredSWF(), out, problem);
}

bool PreviewProgram(CPackageForm& form, ByteVector& out, std::string& problem) {
  return TakeCompanion(form, form.GetSaverPreviewSize(), &CPackageForm::UnpackSaverPreviewToRam, out, problem);
}

bool SettingsProgram(CPackageForm& form, ByteVector& out, std::string& problem) {
  return TakeCompanion(form, form.GetSaverSettingsSize(), &CPackageForm::UnpackSaverSettingsToRam, out,
                   problem);
}

bool Mask(CPackageForm& form, ByteVector& out, std::string& problem) {
  problem.clear();
  if (form.GetPackedMaskSize() == 0 && form.GetUnpackedMaskSize() == 0) return false;
  if (form.GetPackedMaskSize() <= 0 || form.GetUnpackedMaskSize() <= 0) {
    problem = "has sizes " + std::to_string(form.GetPackedMaskSize()) + " packed and " +
              std::to_string(form.GetUnpackedMaskSize()) + " unpacked";
    return false;
  }
  if (Take(form, &CPackageForm::UnpackMaskToRam, out)) return true;
  problem = "does not inflate to its recorded " + std::to_string(form.GetUnpackedMaskSize()) + " bytes";
  return false;
}

bool MaskFile(const CPackageForm& form, FileContent& out, std::string& problem) {
  problem.clear();
  if (form.GetPackedMaskSize() == 0 && form.GetUnpackedMaskSize() == 0) return false;
  return CompressedFile(form.GetStoredMask(), form.GetPackedMaskSize(), form.GetUnpackedMaskSize(),
                        Scramble::kProgram, out, problem);
}

const Companion kCompanions[3] = {
    {"preview program", "preview.swf", true, PreviewProgram, &CPackageForm::GetSaverPreviewSize},
    {"settings program", "settings.swf", true, SettingsProgram, &CPackageForm::GetSaverSettingsSize},
    {"mask", "mask.bin", false, Mask, &CPackageForm::GetUnpackedMaskSize}};

namespace {

// Called only for a key text that is itself enciphered: notes it and
// refuses, so that OpenSSL never asks for a pass phrase on the terminal.
int RefusePassPhrase(char*, int, int, void* asked) {
  *static_cast<bool*>(asked) = true;
  return -1;
}

}  // namespace

int RsaKeyBits(const CPackageForm& form, bool* encrypted) {
  bool asked = false;
  if (encrypted != nullptr) *encrypted = false;
  const int n = form.GetKeyTextLength();
  if (form.GetKeyText() == nullptr || n <= 0) return 0;
  ByteVector pem(form.GetKeyText(), form.GetKeyText() + n);
  Scramble::Apply(pem.data(), n, Scramble::kKeyText);
  int bits = 0;
  if (BIO* bio = BIO_new_mem_buf(pem.data(), n)) {
    if (EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, RefusePassPhrase, &asked)) {
      bits = EVP_PKEY_get_bits(key);
      EVP_PKEY_free(key);
    }
    BIO_free_all(bio);
  }
  OPENSSL_cleanse(pem.data(), pem.size());  // the private key
  if (encrypted != nullptr) *encrypted = asked;
  return bits;
}
