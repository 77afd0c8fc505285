#include "tools/vello/PackageComparison.h"

#include <cstring>

#include "builder_package/Package.h"
#include "builder_package/PackageBinary.h"
#include "builder_package/PackageForm.h"
#include "encryption/EncryptedString.h"
#include "tools/vello/FormContent.h"
#include "tools/vello/PackageContent.h"
#include "tools/vello/PackageDescription.h"
#include "tools/vello/Text.h"

namespace {

// The description without what an upgrade changes on purpose.
nlohmann::json VersionFree(const CPackage& package) {
  nlohmann::json d = DescribePackage(package, "", true);
  d.erase("version");
  for (auto& form : d["forms"]) form.erase("version");
  return d;
}

bool SameRun(const unsigned char* a, const unsigned char* b, int length) {
  if (length <= 0) return true;
  if (a == nullptr || b == nullptr) return a == b;
  return std::memcmp(a, b, static_cast<size_t>(length)) == 0;
}

std::string FormDifference(CPackageForm& a, CPackageForm& b) {
  if (!SameRun(a.GetStoredSWF(), b.GetStoredSWF(), a.GetSWFSize())) return "main program bytes";
  if (a.GetKeyTextLength() != b.GetKeyTextLength() ||
      !SameRun(a.GetKeyText(), b.GetKeyText(), a.GetKeyTextLength()))
    return "key text";
  for (const Companion& companion : kCompanions) {
    ByteVector x, y;
    std::string px, py;
    const bool hasX = companion.take(a, x, px), hasY = companion.take(b, y, py);
    if (hasX != hasY || x != y || px != py) return companion.what;
  }
  return "";
}

std::string SectionDifference(const CPackage& a, const CPackage& b) {
  const std::vector<ResourceView> ra = Resources(a), rb = Resources(b);
  for (size_t i = 0; i < ra.size(); ++i)
    if (!SameRun(ra[i].stored, rb[i].stored, ra[i].packedSize)) return std::string(ra[i].key) + " bytes";
  for (auto x = a.GetFiles().begin(), y = b.GetFiles().begin(); x != a.GetFiles().end(); ++x, ++y)
    if (BinaryBytes(*x->second) != BinaryBytes(*y->second)) return "file " + Utf8(x->first);
  for (size_t i = 0; i < a.GetDllBinaries().size(); ++i)
    if (BinaryBytes(*a.GetDllBinaries()[i]) != BinaryBytes(*b.GetDllBinaries()[i]))
      return "DLL binary " + std::to_string(i);
  for (size_t i = 0; i < a.GetEncryptedStrings().size(); ++i)
    if (a.GetEncryptedStrings()[i]->GetString() != b.GetEncryptedStrings()[i]->GetString())
      return "encrypted string " + std::to_string(i);
  return "";
}

}  // namespace

std::string FirstDifference(CPackage& a, CPackage& b) {
  const nlohmann::json da = VersionFree(a), db = VersionFree(b);
  if (da != db) {
    const nlohmann::json patch = nlohmann::json::diff(da, db);
    return "described differently: " + patch.dump();
  }
  for (int i = 0; i < a.GetFormCount(); ++i) {
    const std::string difference = FormDifference(*a.GetForm(i), *b.GetForm(i));
    if (!difference.empty()) return "form " + std::to_string(i) + ": " + difference;
  }
  return SectionDifference(a, b);
}
