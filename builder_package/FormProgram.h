#pragma once

#include <memory>
#include <string>

#include "builder_package/FileContent.h"
#include "system/ByteRun.h"

class CPackageForm;
class CSysFile;

// A form's programs (main, preview, settings) taken out as the files they
// were packed from: the one way the form's own Unpack operations, the
// saver and the tool take them.
//
// A plain program is its stored bytes with the keyless scramble undone a
// piece at a time, with no copy of the whole: from the form's memory, or
// straight from the package file where the read left a main program
// (PackageReadOptions). A protected main program is decoded whole
// (ProtectedSWF); the decoded bytes are wiped when the content holding
// them goes.
//
// To stream a program to a descriptor: Take, then FileContent::WriteTo.
namespace FormProgram {

enum class Program { main, preview, settings };

// How long a protected main program comes out: its decoded bytes alone,
// or followed by zeros up to its stored length, as
// CPackageForm::UnpackSWFToRam hands it out. A plain program is its stored
// length either way.
enum class Length { decoded, stored };

enum class Outcome {
  taken,
  absent,  // a preview or settings program the form does not hold (size 0)
  failed,  // why says why
};

// The program as the content of one file. packageFile is the file the
// form was read from: needed only for a main program the read left there,
// it may be null otherwise. Content of a plain program refers to the
// form's bytes or to packageFile, which must outlive it (and stay open).
// failed, out untouched, with why a phrase to follow the program's name
// ("has a negative size -4"): a negative size, no stored bytes for the
// size, a main program left in a package file that is not given or can no
// longer be read whole, protected content that does not decode.
Outcome Take(const CPackageForm& form, Program which, CSysFile* packageFile, Length length,
             FileContent& out, std::string& why);

// The same, the whole program in memory: out is untouched unless taken;
// why also tells a program that cannot be read from the package file.
Outcome Read(const CPackageForm& form, Program which, CSysFile* packageFile, Length length, RunBytes& out,
             std::string& why);
// The same into a new array (array new) holding size bytes, as the form's
// Unpack...ToRam operations hand a program out. For a protected program
// the array is always its stored length: zeros follow the decoded bytes.
Outcome ReadArray(const CPackageForm& form, Program which, CSysFile* packageFile, Length length,
                  std::unique_ptr<unsigned char[]>& out, int& size, std::string& why);

}  // namespace FormProgram
