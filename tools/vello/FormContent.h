#pragma once

#include <string>
#include <vector>

#include "system/ByteRun.h"
#include "builder_package/FileContent.h"

class CPackageForm;
class CSysFile;

// A form's content as the files it was packed from. Each returns false
// with a reason when the stored bytes do not decode.
// Content of many megabytes: run memory (system/ByteRun.h).
using ByteVector = RunBytes;

// The main program (FormProgram). Protected content decodes to the program
// followed by padding (or bytes decoded from block filler), so it is cut
// at the length its SWF header states; content that is no sound SWF is
// left whole. A program the read left in the package file is taken from
// packageFile, the file it was read from.
bool MainProgram(const CPackageForm& form, CSysFile* packageFile, ByteVector& out, std::string& problem);
// The same as extract writes it: a plain program straight from its stored
// bytes, with no copy of the whole.
bool MainProgramFile(const CPackageForm& form, CSysFile* packageFile, FileContent& out, std::string& problem);
// Preview and settings programs: false with an empty reason when absent.
bool PreviewProgram(CPackageForm& form, ByteVector& out, std::string& problem);
bool SettingsProgram(CPackageForm& form, ByteVector& out, std::string& problem);
// The mask inflated to its recorded size: false with an empty reason when
// absent.
bool Mask(CPackageForm& form, ByteVector& out, std::string& problem);

// The mask as extract writes it, inflated a piece at a time: false with an
// empty reason when absent.
bool MaskFile(const CPackageForm& form, FileContent& out, std::string& problem);

// The form's content besides its main program, in form order: what it is,
// the name extract gives it, whether it is an SWF program, how to take it,
// its recorded size.
struct Companion {
  const char* what;
  const char* fileName;
  bool isProgram;
  bool (*take)(CPackageForm& form, ByteVector& out, std::string& problem);
  int (CPackageForm::*size)() const;  // as recorded: 0 when absent
};
extern const Companion kCompanions[3];

// Bits of the RSA key of a protected form; 0 when the key text is absent
// or does not parse. A key text enciphered under a pass phrase is never
// asked about: it gives 0, with *encrypted set when given.
int RsaKeyBits(const CPackageForm& form, bool* encrypted = nullptr);
constexpr const char* kEncryptedKey = "key text is encrypted; it cannot be used";
