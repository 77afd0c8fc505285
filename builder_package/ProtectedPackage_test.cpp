// Protected programs through a whole package: packed into a form, saved,
// loaded and extracted.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "builder_package/Package.h"
#include "builder_package/PackageForm.h"
#include "system/TempDir_test.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Case {
  int n;
  bool extraBytes;  // a multiple of 3 whose text ends in a partial Blowfish block
  const char* what;
  friend std::ostream& operator<<(std::ostream& os, const Case& c) {
    return os << c.n << " bytes (" << c.what << ")";
  }
};

class ProtectedPackage : public ::testing::TestWithParam<Case> {};

TEST_P(ProtectedPackage, SavedLoadedAndExtractedGivesTheProgram) {
  const Case& c = GetParam();
  std::mt19937 rng(static_cast<unsigned>(c.n));
  Bytes swf(static_cast<std::size_t>(c.n));
  for (auto& b : swf) b = static_cast<unsigned char>(rng());

  TempDir dir;
  {
    CPackage package;
    auto* form = new CPackageForm;
    package.AddForm(form);
    ASSERT_TRUE(form->PackSWF(dir.Put("in.swf", swf), true, "pass"));
    ASSERT_TRUE(package.Save(0, dir.WideFile("vello.dat")));
  }
  CPackage package;
  ASSERT_TRUE(package.Load(0, dir.WideFile("vello.dat")));
  ASSERT_EQ(package.GetFormCount(), 1);
  CPackageForm& form = *package.GetForm(0);
  ASSERT_TRUE(form.IsProtected());
  EXPECT_EQ(form.GetSWFVersion(), c.n >= 4 ? swf[3] : 0);  // byte 3 of the program
  const int L = (c.n + 2) / 3 * 4;
  EXPECT_EQ(form.GetSWFSize(), (L + 85) / 86 * 128);

  unsigned char* out = nullptr;
  int size = -1;
  ASSERT_TRUE(form.UnpackSWFToRam(&out, size));
  const std::unique_ptr<unsigned char[]> owned(out);
  ASSERT_EQ(size, form.GetSWFSize());  // the payload length, not the program's
  const Bytes ram(out, out + size);

  ASSERT_TRUE(form.UnpackSWF(dir.WideFile("out.swf")));
  const Bytes file = TempDir::ReadAll(dir.File("out.swf"));

  // The file holds exactly the decoded bytes; the array holds them too,
  // followed by zeros up to the payload length.
  ASSERT_LE(file.size(), ram.size());
  EXPECT_TRUE(std::equal(file.begin(), file.end(), ram.begin()));
  EXPECT_TRUE(std::all_of(ram.begin() + static_cast<long>(file.size()), ram.end(),
                          [](unsigned char b) { return b == 0; }));
  ASSERT_GE(file.size(), swf.size());
  EXPECT_TRUE(std::equal(swf.begin(), swf.end(), file.begin()));
  if (c.extraBytes) {
    // The filler after the last text bytes (86 - r of them) decodes to at
    // least one and at most 3 per 4 of them.
    const std::size_t filler = 86 - static_cast<std::size_t>(L % 86);
    EXPECT_GE(file.size(), swf.size() + 1);
    EXPECT_LE(file.size(), swf.size() + (filler + 3) / 4 * 3);
  } else {
    EXPECT_EQ(file, swf);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ProtectedPackage,
    ::testing::Values(Case{0, false, "empty program"}, Case{3, false, "one RSA block, no header"},
                      Case{129, false, "text of 2 x 86, no partial block"},
                      Case{999, true, "multiple of 3, last block partial Blowfish"},
                      Case{1000, false, "ends in =="}),
    [](const auto& info) { return "n" + std::to_string(info.param.n); });

}  // namespace
