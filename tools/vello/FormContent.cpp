#include "tools/vello/FormContent.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

#include "builder_package/FormProgram.h"
#include "builder_package/PackageForm.h"
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

bool TakeCompanion(const CPackageForm& form, FormProgram::Program which, ByteVector& out, std::string& problem) {
  return FormProgram::Read(form, which, nullptr, FormProgram::Length::decoded, out, problem) ==
         FormProgram::Outcome::taken;
}

}  // namespace

bool MainProgram(const CPackageForm& form, CSysFile* packageFile, ByteVector& out, std::string& problem) {
  if (FormProgram::Read(form, FormProgram::Program::main, packageFile, FormProgram::Length::decoded, out,
                        problem) != FormProgram::Outcome::taken) {
    bool encrypted = false;
    if (form.IsProtected() && (RsaKeyBits(form, &encrypted), encrypted))
      problem = "does not decode: " + std::string(kEncryptedKey);
    return false;
  }
  // Protected content decodes to the program followed by padding or bytes
  // decoded from block filler.
  if (form.IsProtected()) {
    const SwfCheck swf = CheckSwf(out.data(), out.size());
    if (swf.ok()) out.resize(swf.fileLength);
  }
  return true;
}

bool MainProgramFile(const CPackageForm& form, CSysFile* packageFile, FileContent& out, std::string& problem) {
  if (!form.IsProtected())
    return FormProgram::Take(form, FormProgram::Program::main, packageFile, FormProgram::Length::decoded, out,
                             problem) == FormProgram::Outcome::taken;
  ByteVector program;
  if (!MainProgram(form, packageFile, program, problem)) return false;
  out = FileContent::Secret(std::move(program));
  return true;
}

bool PreviewProgram(CPackageForm& form, ByteVector& out, std::string& problem) {
  return TakeCompanion(form, FormProgram::Program::preview, out, problem);
}

bool SettingsProgram(CPackageForm& form, ByteVector& out, std::string& problem) {
  return TakeCompanion(form, FormProgram::Program::settings, out, problem);
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
