#include "builder_package/FormProgram.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "builder_package/PackageForm.h"
#include "builder_package/ProtectedSWF.h"
#include "builder_package/RecordBytes_test.h"
#include "system/SysFile.h"
#include "system/TempDir_test.h"

namespace {

using recordbytes::Bytes;
using FormProgram::Outcome;
using FormProgram::Program;
constexpr FormProgram::Length kDecoded = FormProgram::Length::decoded, kStored = FormProgram::Length::stored;

// Each program is taken into memory and streamed into a file, from a form
// read from its record's bytes (the main program left in the file or not):
// both give the expected bytes, or fail and say why.
TEST(FormProgramTest, ProgramsComeOutAsPackedPlainOrProtectedInMemoryOrStreamed) {
  const Bytes plain = recordbytes::Words(7, 600001);  // three pieces of a streamed write
  // Large enough to be decoded in more than one piece, and no two pieces
  // alike; of a length whose text ends in "=", so nothing is decoded from
  // filler after it.
  std::string body(40001, 'p');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 23);
  const Bytes swf = recordbytes::Program(body);
  ProtectedSWF::Packed packed;
  ASSERT_TRUE(ProtectedSWF::Pack(swf.data(), static_cast<int>(swf.size()), "pass", packed));
  Bytes padded = swf;  // as the form hands it out: its stored length
  padded.resize(packed.payload.size(), 0);
  const Bytes preview = recordbytes::Text("FWS\x0a preview");
  const std::string cut = "the package file is shorter than when it was read";

  enum Kind { kPlain, kProtected, kDamaged };
  enum Fate { kKept, kCut, kNotGiven };  // of the file the form was read from, after the read
  const struct {
    Kind kind;
    bool left;  // the read leaves the main program in the file
    Fate file;
    Program which;
    FormProgram::Length length;
    Outcome outcome;
    Bytes expected;
    std::string why;
  } cases[] = {
      {kPlain, false, kKept, Program::main, kStored, Outcome::taken, plain, ""},
      {kPlain, true, kKept, Program::main, kDecoded, Outcome::taken, plain, ""},
      {kProtected, false, kKept, Program::main, kStored, Outcome::taken, padded, ""},
      {kProtected, true, kKept, Program::main, kDecoded, Outcome::taken, swf, ""},
      {kProtected, true, kKept, Program::preview, kStored, Outcome::taken, preview, ""},
      {kPlain, false, kKept, Program::settings, kStored, Outcome::absent, {}, ""},
      {kDamaged, false, kKept, Program::main, kStored, Outcome::failed, {},
       "does not decode: its key text or protected blocks are damaged"},
      {kProtected, true, kCut, Program::main, kStored, Outcome::failed, {}, "cannot be read: " + cut},
      {kPlain, true, kCut, Program::main, kStored, Outcome::failed, {},
       "cannot read its bytes from the package: " + cut},
      {kPlain, true, kNotGiven, Program::main, kStored, Outcome::failed, {},
       "was left in a package file that is not at hand"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    recordbytes::Form fields;
    fields.preview = recordbytes::Scrambled(preview, 122);
    fields.swf = c.kind == kPlain ? recordbytes::Scrambled(plain, 122) : Bytes(packed.payload.begin(), packed.payload.end());
    if (c.kind != kPlain) fields.keyText = packed.keyText;
    if (c.kind == kDamaged) fields.swf[5] ^= 1;  // inside the RSA block
    TempDir dir;
    CSysFile file;
    ASSERT_TRUE(file.Open(dir.Put("form.rec", recordbytes::FormRecord(14, fields)), L"rb"));
    CPackageForm form;
    PackageReadOptions options;
    options.leaveMainProgramsInFile = c.left;
    ASSERT_TRUE(form.Read(0, file, options));
    ASSERT_EQ(form.GetStoredSWFOffset() >= 0, c.left);
    if (c.file == kCut) {
      ASSERT_EQ(truncate(dir.File("form.rec").c_str(), form.GetStoredSWFOffset() + 10), 0);
    }
    CSysFile* given = c.file == kNotGiven ? nullptr : &file;

    RunBytes memory;
    std::string why;
    EXPECT_EQ(FormProgram::Read(form, c.which, given, c.length, memory, why), c.outcome);
    EXPECT_EQ(why, c.why);
    EXPECT_TRUE(Bytes(memory.begin(), memory.end()) == c.expected);

    FileContent content;
    const bool taken = FormProgram::Take(form, c.which, given, c.length, content, why) == Outcome::taken;
    const int fd = open(dir.File("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    EXPECT_EQ(taken && content.WriteTo(fd) == FileContent::WriteResult::written, c.outcome == Outcome::taken);
    close(fd);
    EXPECT_EQ(taken ? content.Problem() : why, c.why);
    EXPECT_TRUE(TempDir::ReadAll(dir.File("out")) == c.expected);
  }
}

}  // namespace
