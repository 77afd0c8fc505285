#include "builder_package/PackageForm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "builder_package/RecordBytes_test.h"
#include "system/MemoryFile_test.h"
#include "system/RandomBytes_test.h"
#include "system/SysFile.h"
#include "system/TempDir_test.h"

namespace {

using namespace recordbytes;

// Reads one form record from bytes through a real file.
struct FormFromBytes {
  TempDir dir;
  CPackageForm form;
  bool ok = false;

  CSysFile stream;

  explicit FormFromBytes(const Bytes& record, const PackageReadOptions& options = {}) {
    dir.Write("form.rec", record);
    ok = stream.Open(dir.WideFile("form.rec"), L"rb") && form.Read(0, stream, options);
  }
};

const PackageReadOptions kLeavingTheProgramInTheFile{.leaveMainProgramsInFile = true};

Bytes WriteForm(CPackageForm& form) {
  bool ok = false;
  const Bytes record = WrittenToMemory([&](CSysFile& file) { return form.Write(0, file); }, &ok);
  EXPECT_TRUE(ok);
  return record;
}

// Every form version reads exactly the fields its gates admit, later fields
// keep their defaults, and versions outside 1..14 are read by the nearest
// gate. Written back, the form is a version-14 record of the same values.
class FormVersionTest : public ::testing::TestWithParam<int> {};

TEST_P(FormVersionTest, ReadsGatedFieldsAndWritesThemAsVersion14) {
  const int v = GetParam();
  Form fields;
  // Longer than 34 bytes, so the mask of byte 3 wraps past 255.
  fields.swf = Scrambled(Text("FWS\x0a" + std::string(40, 'p')), 122);
  fields.mask = {1, 2, 3};
  fields.unpackedMask = 50;
  fields.name = "";  // a stored empty name replaces the default
  fields.preview = {4, 5, 6, 7, 8, 9, 10};
  fields.settings = {11};
  fields.keyText = Text("key");
  FormFromBytes read(FormRecord(v, fields));
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.form.GetStoredVersion(), v);
  const Bytes written = WriteForm(read.form);
  EXPECT_EQ(Bytes(written.begin(), written.begin() + 4), (Bytes{14, 0, 0, 0}));
  FormFromBytes again(written);
  ASSERT_TRUE(again.ok);

  for (CPackageForm* f : {&read.form, &again.form}) {
    EXPECT_EQ(f->GetFormString1(), L"s1");
    EXPECT_EQ(f->GetFormString2(), L"s2");
    EXPECT_TRUE(f->GetFormFlag1());
    EXPECT_TRUE(f->GetFormFlag3());
    EXPECT_FALSE(f->GetFormFlag8());
    EXPECT_TRUE(f->GetFormFlag9());
    EXPECT_EQ(f->GetFormInt7(), 107);
    EXPECT_EQ(f->GetFormInt8(), 108);
    EXPECT_EQ(f->GetFormInt14(), 114);
    EXPECT_EQ(f->GetSWFSize(), 44);
    EXPECT_EQ(f->GetPackedMaskSize(), v >= 2 ? 3 : 0);
    EXPECT_EQ(f->GetUnpackedMaskSize(), v >= 2 ? 50 : 0);
    EXPECT_EQ(f->GetFormUInt1(), v >= 3 ? 0x7FFFFFF3u : 0u);
    EXPECT_EQ(f->GetFormFlag11(), v < 4);
    EXPECT_EQ(f->GetFormInt17(), v >= 5 ? 117 : 0);
    EXPECT_EQ(f->GetFormName(), v >= 6 ? L"" : L"form");
    EXPECT_EQ(f->GetFormInt18(), v >= 7 ? 118 : 0);
    EXPECT_EQ(f->GetSaverPreviewSize(), v >= 8 ? 7 : 0);
    EXPECT_EQ(f->GetSaverSettingsSize(), v >= 8 ? 1 : 0);
    EXPECT_EQ(f->GetFormFlag12(), v >= 9);
    EXPECT_EQ(f->GetFormUInt2(), v >= 9 ? 0x12345678u : 0u);
    EXPECT_EQ(f->GetFormInt20(), v >= 10 ? 120 : 0);
    EXPECT_EQ(f->GetKeyTextLength(), v >= 11 ? 3 : 0);
    EXPECT_EQ(f->GetFormFlag13(), v >= 14);
    // With key text the form is protected: it reports the stored version
    // and Set leaves it. Plain, byte 3 is read and set through the scramble.
    const int stored = v >= 12 ? 9 : 0;
    EXPECT_EQ(f->GetSWFVersion(), v >= 11 ? stored : 10);
    f->SetSWFVersion(12);
    EXPECT_EQ(f->GetSWFVersion(), v >= 11 ? stored : 12);
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, FormVersionTest, ::testing::Range(-1, 16));

// A size that is negative or beyond the end of the record is refused and
// named, and the form keeps no size without its bytes.
TEST(FormRecordTest, NegativeAndOversizedLengthsAreRefused) {
  const Bytes record = FormRecord(14, {});
  // The program's length follows the version, string 1 (4 + 2), 22 four-byte
  // fields, string 2 (4 + 2) and two flags. From the end: flag 13, SWF
  // version, the key text's length; before it flag 12, uint 2, ints 19 and
  // 20, and before those the settings' length.
  const size_t swfLengthAt = 4 + 6 + 22 * 4 + 6 + 8;
  const size_t keyLengthAt = record.size() - 12;
  const size_t settingsLengthAt = keyLengthAt - 20;
  const struct {
    size_t at;
    int32_t value;
    const char* field;
  } cases[] = {
      {swfLengthAt, -1, "m_SWFLength"},
      {swfLengthAt, INT32_MIN, "m_SWFLength"},
      {swfLengthAt, 1 << 30, "m_SWFLength"},
      {swfLengthAt, INT32_MAX, "m_SWFLength"},
      {swfLengthAt + 4, -5, "m_packedMaskSize"},
      {swfLengthAt + 4, 1 << 30, "m_packedMaskSize"},
      {swfLengthAt + 8, -5, "m_unpackedMaskSize"},
      {settingsLengthAt - 4, -1, "m_saverPreviewSize"},
      {settingsLengthAt, 1 << 30, "m_saverSettingsSize"},
      {keyLengthAt, -1, "m_keyTextLength"},
      {keyLengthAt, 1 << 30, "m_keyTextLength"}};
  for (const bool leave : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(leave ? "program left in the file" : "program read");
      Bytes patched = record;
      Bytes length;
      Int(length, c.value);
      std::copy(length.begin(), length.end(), patched.begin() + static_cast<long>(c.at));
      FormFromBytes read(patched, leave ? kLeavingTheProgramInTheFile : PackageReadOptions{});
      // Reading stops after the size; the mask's run follows both its sizes.
      const size_t stop = c.at + (c.field == std::string("m_packedMaskSize") ? 8 : 4);
      const std::string expected =
          "length " + std::to_string(c.value) +
          (c.value < 0 ? " is negative"
                       : " exceeds the " + std::to_string(record.size() - stop) + " bytes left");
      EXPECT_FALSE(read.ok) << c.field;
      EXPECT_EQ(read.form.GetReadFailure().ToString(),
                "at byte " + std::to_string(c.value < 0 ? c.at + 4 : stop) + ", form, " + c.field +
                    ": " + expected);
      EXPECT_EQ(read.form.GetSWFSize() + read.form.GetPackedMaskSize() +
                    read.form.GetUnpackedMaskSize() + read.form.GetSaverPreviewSize() +
                    read.form.GetSaverSettingsSize() + read.form.GetKeyTextLength(),
                0)
          << c.field;
    }
  }
}

// A read that leaves the program in the file notes where its stored bytes
// are (FormProgramTest reads them there, and the fields after them). The
// form then refuses what needs the bytes rather than writing a record
// without them. Streams without offsets (pipes) are read whole.
TEST(FormRecordTest, AProgramLeftInTheFileIsFoundAtItsOffset) {
  Form fields;
  fields.swf = Scrambled(Text("FWS\x0a" + std::string(5000, 'q')), 122);
  const Bytes record = FormRecord(14, fields);

  FormFromBytes left(record, kLeavingTheProgramInTheFile);
  ASSERT_TRUE(left.ok) << left.form.GetReadFailure().ToString();
  EXPECT_EQ(left.form.GetStoredSWF(), nullptr);
  ASSERT_GE(left.form.GetStoredSWFOffset(), 0);

  CSysFile out;
  ASSERT_TRUE(out.Open(left.dir.WideFile("written.rec"), L"wb"));
  EXPECT_FALSE(left.form.Write(0, out));
  unsigned char* program = nullptr;
  int size = 0;
  EXPECT_FALSE(left.form.UnpackSWFToRam(&program, size));
  EXPECT_FALSE(left.form.UnpackSWF(left.dir.WideFile("main.swf")));
  // A new program replaces the note.
  ASSERT_TRUE(left.form.PackSWF(left.dir.Put("new.swf", Text("FWS\x08")), false, ""));
  EXPECT_EQ(left.form.GetStoredSWFOffset(), -1);
  EXPECT_TRUE(left.form.Write(0, out));

  // An empty program has no place; a pipe cannot seek, so it is read.
  FormFromBytes none(FormRecord(14, {}), kLeavingTheProgramInTheFile);
  ASSERT_TRUE(none.ok);
  EXPECT_EQ(none.form.GetStoredSWFOffset(), -1);
  FILE* pipe = popen(("cat '" + left.dir.File("form.rec") + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  CPackageForm piped;
  {
    CSysFile stream(pipe);
    ASSERT_TRUE(piped.Read(0, stream, kLeavingTheProgramInTheFile));
  }
  pclose(pipe);
  EXPECT_EQ(piped.GetStoredSWFOffset(), -1);
  ASSERT_NE(piped.GetStoredSWF(), nullptr);
  EXPECT_TRUE(Bytes(piped.GetStoredSWF(), piped.GetStoredSWF() + 5004) == fields.swf);
}

// Programs shorter than an SWF header have version 0, which Set leaves;
// byte 3 of longer ones is read and set through the scramble. With its
// preview, settings and name, each is stored scrambled, reads back and
// writes back unchanged, the empty program too.
TEST(FormContentTest, PlainProgramsOfAnyLengthRoundTripThroughARecord) {
  TempDir dir;
  const Bytes preview = Text("FWS\x06 preview");
  const Bytes settings = Text("FWS\x07 settings");
  for (size_t length : {0u, 3u, 4u, 300u, 600001u}) {  // the last spans pieces of writing
    Bytes swf(length, 0x41);
    if (length >= 4) swf[3] = 6;
    CPackageForm form;
    ASSERT_TRUE(form.PackSWF(dir.Put("v.swf", swf), false, ""));
    ASSERT_TRUE(form.PackSaverPreview(dir.Put("p.swf", preview)));
    ASSERT_TRUE(form.PackSaverSettings(dir.Put("s.swf", settings)));
    form.SetFormName(L"demo \u00e9\U0001F600");
    EXPECT_EQ(form.GetSWFVersion(), length >= 4 ? 6 : 0);
    form.SetSWFVersion(10);
    if (length >= 4) swf[3] = 10;
    EXPECT_EQ(form.GetSWFVersion(), length >= 4 ? 10 : 0);
    ASSERT_TRUE(form.UnpackSWF(dir.WideFile("v.out")));
    EXPECT_EQ(TempDir::ReadAll(dir.File("v.out")), swf);

    const Bytes record = WriteForm(form);
    Bytes stored;
    recordbytes::Run(stored, Scrambled(swf, 122));
    EXPECT_NE(std::search(record.begin(), record.end(), stored.begin(), stored.end()),
              record.end());
    FormFromBytes read(record);
    ASSERT_TRUE(read.ok);
    EXPECT_EQ(WriteForm(read.form), record) << length;
    EXPECT_EQ(read.form.GetFormName(), L"demo \u00e9\U0001F600");
    EXPECT_EQ(Unpacked(read.form, &CPackageForm::UnpackSaverPreviewToRam), preview);
    EXPECT_EQ(Unpacked(read.form, &CPackageForm::UnpackSaverSettingsToRam), settings);
    unsigned char* out = nullptr;
    int size = -1;
    ASSERT_TRUE(read.form.UnpackSWFToRam(&out, size));
    const std::unique_ptr<unsigned char[]> owned(out);
    ASSERT_NE(out, nullptr);  // an empty program too is a buffer to release
    EXPECT_EQ(Bytes(out, out + size), swf);
  }
}

// A failed pack of any kind leaves a protected form as it was; a plain
// pack drops the key text.
TEST(FormContentTest, ProtectedFormThroughFailedPacksAndAPlainPack) {
  TempDir dir;
  CPackageForm form;
  ASSERT_TRUE(form.PackSWF(dir.Put("p.swf", Bytes(200, 0x42)), true, "pass"));
  const Bytes record = WriteForm(form);
  EXPECT_FALSE(form.PackSWF(dir.Put("other.swf", Bytes(50, 1)), true, ""));  // no callback text
  EXPECT_FALSE(form.PackSWF(dir.WideFile("missing.swf"), true, "pass"));
  EXPECT_FALSE(form.PackSWF(dir.WideFile("missing.swf"), false, ""));
  EXPECT_FALSE(form.PackSaverPreview(dir.WideFile("missing.swf")));
  EXPECT_EQ(WriteForm(form), record);
  unsigned char* out = nullptr;
  int size = -1;
  EXPECT_FALSE(form.UnpackSaverPreviewToRam(&out, size));
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(size, 0);

  const Bytes plain = Text("FWS\x05plain now");
  ASSERT_TRUE(form.PackSWF(dir.Put("plain.swf", plain), false, ""));
  EXPECT_FALSE(form.IsProtected());
  EXPECT_EQ(form.GetKeyTextLength(), 0);
  EXPECT_EQ(Unpacked(form, &CPackageForm::UnpackSWFToRam), plain);
}

// The mask is stored as its zlib stream at level 9, scrambled with 122:
// PackMask writes those bytes and UnpackMaskToRam restores them, each
// checked against bytes composed here.
TEST(FormMaskTest, MaskIsItsLevel9StreamScrambledAndAFailedPackLeavesTheFormWritable) {
  TempDir dir;
  Bytes mask(4000);
  for (size_t i = 0; i < mask.size(); ++i) mask[i] = static_cast<unsigned char>(i / 100);
  Composer sized;  // both sizes, then the stored stream
  sized.Compressed("Mask", &mask, 9, 122);
  const Bytes stored(sized.out.begin() + 8, sized.out.end());

  CPackageForm form;
  ASSERT_TRUE(form.PackMask(dir.Put("mask.bin", mask)));
  const Bytes record = WriteForm(form);
  EXPECT_NE(std::search(record.begin(), record.end(), sized.out.begin(), sized.out.end()),
            record.end());
  Form fields;
  fields.mask = stored;
  fields.unpackedMask = static_cast<int32_t>(mask.size());
  FormFromBytes read(FormRecord(2, fields));
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(Unpacked(read.form, &CPackageForm::UnpackMaskToRam), mask);

  // Noise does not shrink and an empty file has nothing to pack: either
  // replaces the mask by none, so the form still writes.
  for (const Bytes& bad : {RandomBytes(2000, 7), Bytes{}}) {
    ASSERT_TRUE(form.PackMask(dir.Put("mask.bin", mask)));
    EXPECT_FALSE(form.PackMask(dir.Put("bad.bin", bad)));
    EXPECT_EQ(form.GetPackedMaskSize(), 0);
    EXPECT_EQ(form.GetUnpackedMaskSize(), 0);
    EXPECT_TRUE(FormFromBytes(WriteForm(form)).ok);
  }
}

}  // namespace
