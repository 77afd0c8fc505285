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

// A protected program decoded from its stored blocks. The buffer starts
// zeroed: for Length::stored the bytes after the decoded ones go out too.
Outcome Decode(const CPackageForm& form, const unsigned char* stored, Length length, FileContent& out,
               std::string& why) {
  const int size = form.GetSWFSize();
  RunBytes program(static_cast<std::size_t>(size));
  int decoded = 0;
  if (!ProtectedSWF::Unpack(stored, size, form.GetKeyText(), form.GetKeyTextLength(), program.data(), size,
                            decoded))
    return Fail(why, "does not decode: its key text or protected blocks are damaged");
  // Nothing past the decoded bytes was written, so the shrink leaves no
  // secret behind the size that the wipe covers.
  if (length == Length::decoded) program.resize(static_cast<std::size_t>(decoded));
  out = FileContent::Secret(std::move(program));
  return Outcome::taken;
}

}  // namespace

Outcome Take(const CPackageForm& form, Program which, CSysFile* packageFile, Length length, FileContent& out,
             std::string& why) {
  why.clear();
  const bool main = which == Program::main;
  const int size = main                          ? form.GetSWFSize()
                   : which == Program::preview ? form.GetSaverPreviewSize()
                                               : form.GetSaverSettingsSize();
  const unsigned char* stored = main                          ? form.GetStoredSWF()
                                : which == Program::preview ? form.GetStoredSaverPreview()
                                                            : form.GetStoredSaverSettings();
  if (!main && size == 0) return Outcome::absent;
  if (size < 0) return Fail(why, "has a negative size " + std::to_string(size));
  const long long offset = main ? form.GetStoredSWFOffset() : -1;
  if (offset < 0 && size > 0 && stored == nullptr)
    return Fail(why, "has no stored bytes for its size " + std::to_string(size));
  if (offset >= 0 && packageFile == nullptr) return Fail(why, "was left in a package file that is not at hand");

  if (!main || !form.IsProtected()) {
    out = offset >= 0 ? FileContent::DescrambledFromFile(*packageFile, offset, size, Scramble::kProgram)
                      : FileContent::Descrambled(stored, size, Scramble::kProgram);
    return Outcome::taken;
  }
  if (offset < 0) return Decode(form, stored, length, out, why);
  RunBytes blocks(static_cast<std::size_t>(size));
  const int got = packageFile->ReadAt(offset, blocks.data(), size);
  if (got != size) {
    if (got >= 0) errno = 0;  // the file ends early
    return Fail(why, "cannot be read: " + FileContent::WhyNotRead());
  }
  return Decode(form, blocks.data(), length, out, why);
}

namespace {

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
  FileContent content;
  const Outcome taken = Take(form, which, packageFile, length, content, why);
  if (taken != Outcome::taken) return taken;
  const auto n = static_cast<std::size_t>(content.size());
  std::unique_ptr<unsigned char[]> bytes(new unsigned char[n]);
  AdviseHugePages(bytes.get(), n);
  if (!CopyOut(content, bytes.get(), why)) return Outcome::failed;
  out = std::move(bytes);
  size = static_cast<int>(n);
  return Outcome::taken;
}

}  // namespace FormProgram
