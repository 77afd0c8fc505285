#include "builder_package/FormProgram.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "builder_package/PackageForm.h"
#include "builder_package/ProtectedSWF.h"
#include "builder_package/Scramble.h"
#include "system/SysFile.h"

namespace FormProgram {

namespace {

Outcome Fail(std::string& why, std::string reason) {
  why = std::move(reason);
  return Outcome::failed;
}

// A program's stored bytes once found: plain content to take as it is, or
// the blocks of a protected main program, read from the package file into
// held when the read left them there.
struct Stored {
  FileContent plain;
  bool isProtected = false;
  const unsigned char* blocks = nullptr;
  RunBytes held;
};

Outcome Find(const CPackageForm& form, Program which, CSysFile* packageFile, Stored& stored, std::string& why) {
  why.clear();
  const bool main = which == Program::main;
  const int size = main                          ? form.GetSWFSize()
                   : which == Program::preview ? form.GetSaverPreviewSize()
                                               : form.GetSaverSettingsSize();
  const unsigned char* bytes = main                          ? form.GetStoredSWF()
                               : which == Program::preview ? form.GetStoredSaverPreview()
                                                           : form.GetStoredSaverSettings();
  if (!main && size == 0) return Outcome::absent;
  if (size < 0) return Fail(why, "has a negative size " + std::to_string(size));
  const long long offset = main ? form.GetStoredSWFOffset() : -1;
  if (offset < 0 && size > 0 && bytes == nullptr)
    return Fail(why, "has no stored bytes for its size " + std::to_string(size));
  if (offset >= 0 && packageFile == nullptr) return Fail(why, "was left in a package file that is not at hand");

  if (!main || !form.IsProtected()) {
    stored.plain = offset >= 0 ? FileContent::DescrambledFromFile(*packageFile, offset, size, Scramble::kProgram)
                               : FileContent::Descrambled(bytes, size, Scramble::kProgram);
    return Outcome::taken;
  }
  stored.isProtected = true;
  stored.blocks = bytes;
  if (offset < 0) return Outcome::taken;
  stored.held.resize(static_cast<std::size_t>(size));
  const int got = packageFile->ReadAt(offset, stored.held.data(), size);
  if (got != size) {
    if (got >= 0) errno = 0;  // the file ends early
    return Fail(why, "cannot be read: " + FileContent::WhyNotRead());
  }
  stored.blocks = stored.held.data();
  return Outcome::taken;
}

// Decodes protected blocks into out, the stored length of zeroed bytes:
// those after the decoded ones are zeros still. The length handed out.
Outcome Decode(const CPackageForm& form, const unsigned char* blocks, Length length, unsigned char* out,
               int& size, std::string& why) {
  int decoded = 0;
  if (!ProtectedSWF::Unpack(blocks, form.GetSWFSize(), form.GetKeyText(), form.GetKeyTextLength(), out,
                            form.GetSWFSize(), decoded))
    return Fail(why, "does not decode: its key text or protected blocks are damaged");
  size = length == Length::stored ? form.GetSWFSize() : decoded;
  return Outcome::taken;
}

// Copies the whole content into out, descrambling straight into place, in
// pieces of a few huge pages (ByteRun.h); false with why set when its
// bytes cannot be read.
bool CopyOut(const FileContent& content, unsigned char* out, std::string& why) {
  constexpr std::size_t kPiece = 4 * kByteRunPage;
  const auto total = static_cast<std::size_t>(content.size());
  for (std::size_t at = 0; at < total; at += kPiece) {
    const std::size_t n = std::min(kPiece, total - at);
    const unsigned char* piece = content.Piece(at, n, out + at);
    if (piece == nullptr) {
      why = content.Problem();
      return false;
    }
    if (piece != out + at) std::memcpy(out + at, piece, n);
  }
  return true;
}

}  // namespace

Outcome Take(const CPackageForm& form, Program which, CSysFile* packageFile, Length length, FileContent& out,
             std::string& why) {
  Stored stored;
  const Outcome found = Find(form, which, packageFile, stored, why);
  if (found != Outcome::taken) return found;
  if (!stored.isProtected) {
    out = std::move(stored.plain);
    return Outcome::taken;
  }
  RunBytes program(static_cast<std::size_t>(form.GetSWFSize()));
  int size = 0;
  if (Decode(form, stored.blocks, length, program.data(), size, why) != Outcome::taken) return Outcome::failed;
  // Nothing past the decoded bytes was written, so the shrink leaves no
  // secret outside the size that the wipe covers.
  program.resize(static_cast<std::size_t>(size));
  out = FileContent::Secret(std::move(program));
  return Outcome::taken;
}

Outcome Read(const CPackageForm& form, Program which, CSysFile* packageFile, Length length, RunBytes& out,
             std::string& why) {
  FileContent content;
  const Outcome taken = Take(form, which, packageFile, length, content, why);
  if (taken != Outcome::taken) return taken;
  RunBytes bytes(static_cast<std::size_t>(content.size()));
  if (!CopyOut(content, bytes.data(), why)) return Outcome::failed;
  out.swap(bytes);
  return Outcome::taken;
}

Outcome ReadArray(const CPackageForm& form, Program which, CSysFile* packageFile, Length length,
                  std::unique_ptr<unsigned char[]>& out, int& size, std::string& why) {
  Stored stored;
  const Outcome found = Find(form, which, packageFile, stored, why);
  if (found != Outcome::taken) return found;
  // A protected program is decoded straight into the array handed out, so
  // that no second copy of it is made.
  const auto n = static_cast<std::size_t>(stored.isProtected ? form.GetSWFSize() : stored.plain.size());
  std::unique_ptr<unsigned char[]> bytes(stored.isProtected ? new unsigned char[n]() : new unsigned char[n]);
  AdviseHugePages(bytes.get(), n);
  int handedOut = static_cast<int>(n);
  if (stored.isProtected ? Decode(form, stored.blocks, length, bytes.get(), handedOut, why) != Outcome::taken
                         : !CopyOut(stored.plain, bytes.get(), why))
    return Outcome::failed;
  out = std::move(bytes);
  size = handedOut;
  return Outcome::taken;
}

}  // namespace FormProgram
