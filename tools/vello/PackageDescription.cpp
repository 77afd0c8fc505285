#include "tools/vello/PackageDescription.h"

#include "builder_package/Package.h"
#include "builder_package/PackageBinary.h"
#include "builder_package/PackageForm.h"
#include "encryption/EncryptedString.h"
#include "tools/vello/FormContent.h"
#include "tools/vello/PackageContent.h"
#include "tools/vello/Text.h"

using nlohmann::json;

namespace {

constexpr int kSchema = 1;

json DescribeHeader(const CPackage& p) {
  return {{"int1", p.GetHeaderInt1()},          {"string1", Utf8(p.GetHeaderString1())},
          {"string2", Utf8(p.GetHeaderString2())}, {"flag1", p.GetHeaderFlag1()},
          {"flag2", p.GetHeaderFlag2()},        {"flag3", p.GetHeaderFlag3()},
          {"string3", Utf8(p.GetHeaderString3())}, {"int2", p.GetHeaderInt2()},
          {"int3", p.GetHeaderInt3()},          {"int4", p.GetHeaderInt4()}};
}

// The form fields this system carries without giving them a meaning.
json DescribeCarriedFields(const CPackageForm& f) {
  json fields = {{"string1", Utf8(f.GetFormString1())}, {"string2", Utf8(f.GetFormString2())},
                 {"uint1", f.GetFormUInt1()},           {"uint2", f.GetFormUInt2()}};
  const bool flags[] = {f.GetFormFlag1(),  f.GetFormFlag2(),  f.GetFormFlag3(),  f.GetFormFlag4(),
                        f.GetFormFlag5(),  f.GetFormFlag6(),  f.GetFormFlag7(),  f.GetFormFlag8(),
                        f.GetFormFlag9(),  f.GetFormFlag10(), f.GetFormFlag11(), f.GetFormFlag12(),
                        f.GetFormFlag13()};
  for (size_t i = 0; i < std::size(flags); ++i) fields["flag" + std::to_string(i + 1)] = flags[i];
  const int ints[] = {f.GetFormInt1(),  f.GetFormInt2(),  f.GetFormInt3(),  f.GetFormInt4(),
                      f.GetFormInt5(),  f.GetFormInt6(),  f.GetFormInt7(),  f.GetFormInt8(),
                      f.GetFormInt9(),  f.GetFormInt10(), f.GetFormInt11(), f.GetFormInt12(),
                      f.GetFormInt13(), f.GetFormInt14(), f.GetFormInt15(), f.GetFormInt16(),
                      f.GetFormInt17(), f.GetFormInt18(), f.GetFormInt19(), f.GetFormInt20()};
  for (size_t i = 0; i < std::size(ints); ++i) fields["int" + std::to_string(i + 1)] = ints[i];
  return fields;
}

json DescribeForm(const CPackageForm& f, int index) {
  json main = {{"stored_size", f.GetSWFSize()},
               {"swf_version", f.GetSWFVersion()},
               {"protected", f.IsProtected()}};
  // A plain program is stored at its own size; a protected one only
  // knows it once decoded.
  if (f.IsProtected())
    main["rsa_key_bits"] = RsaKeyBits(f);
  else
    main["size"] = f.GetSWFSize();
  return {{"index", index},
          {"version", f.GetStoredVersion()},
          {"name", Utf8(f.GetFormName())},
          {"main", main},
          {"mask", {{"packed_size", f.GetPackedMaskSize()}, {"size", f.GetUnpackedMaskSize()}}},
          {"preview_size", f.GetSaverPreviewSize()},
          {"settings_size", f.GetSaverSettingsSize()},
          {"fields", DescribeCarriedFields(f)}};
}

// Names of variables, with their values only when asked for.
json DescribeVariables(const CPackage::StringMap& vars, bool showValues) {
  json out = json::object();
  for (const auto& [name, value] : vars) out[Utf8(name)] = showValues ? json(Utf8(value->GetString())) : json(nullptr);
  return out;
}

json DescribeSections(const CPackage& p, bool showValues) {
  json dlls = json::array();
  for (const CPackageBinary* dll : p.GetDllBinaries()) dlls.push_back(dll->GetLength());
  json files = json::object();
  for (const auto& [name, binary] : p.GetFiles()) files[Utf8(name)] = binary->GetLength();
  json resources = json::object();
  for (const ResourceView& r : Resources(p))
    resources[r.key] = r.present() ? json{{"packed_size", r.packedSize}, {"size", r.unpackedSize}} : json(nullptr);
  json strings = json::array();
  for (int n = 1; n <= 9; ++n) strings.push_back(Utf8(p.GetOptionString(n)));
  return {{"dll_binaries", dlls},
          {"secure_vars", DescribeVariables(p.GetSecureVars(), showValues)},
          {"files", files},
          {"encrypted_string_count", p.GetEncryptedStrings().size()},
          {"global_vars", DescribeVariables(p.GetGlobalVars(), showValues)},
          {"resources", resources},
          {"options",
           {{"int1", p.GetOptionInt1()},
            {"int2", p.GetOptionInt2()},
            {"int3", p.GetOptionInt3()},
            {"int4", p.GetOptionInt4()},
            {"int5", p.GetOptionInt5()},
            {"flag1", p.GetOptionFlag1()},
            {"flag2", p.GetOptionFlag2()},
            {"flag3", p.GetOptionFlag3()},
            {"strings", strings}}}};
}

}  // namespace

json DescribePackage(const CPackage& package, const std::string& path, bool showValues) {
  json forms = json::array();
  for (int i = 0; i < package.GetFormCount(); ++i) forms.push_back(DescribeForm(*package.GetForm(i), i));
  return {{"schema", kSchema},
          {"file", path},
          {"version", package.GetStoredVersion()},
          {"header", DescribeHeader(package)},
          {"forms", forms},
          {"sections", DescribeSections(package, showValues)}};
}

void PrintSummary(const json& d, std::ostream& out, bool all) {
  // Names and texts come from the package: their control characters are
  // escaped (dump() leaves DEL and the C1 controls as they are).
  const auto text = [](const json& value) { return Shown(value.is_string() ? value.get<std::string>() : value.dump()); };
  out << text(d["file"]) << ": package version " << d["version"] << ", "
      << d["forms"].size() << (d["forms"].size() == 1 ? " form\n" : " forms\n");
  // The fields the format leaves unnamed: only when asked for.
  if (all) out << "header: " << text(d["header"]) << "\n";
  for (const json& f : d["forms"]) {
    const json& main = f["main"];
    out << "form " << f["index"] << " \"" << text(f["name"]) << "\" (form version "
        << f["version"] << ")\n";
    out << "  main program: ";
    if (main["protected"].get<bool>() && main["rsa_key_bits"] == 0)
      out << "protected, with a key text that cannot be used, " << main["stored_size"] << " bytes stored";
    else if (main["protected"].get<bool>())
      out << "protected, RSA " << main["rsa_key_bits"] << "-bit key, " << main["stored_size"]
          << " bytes stored";
    else
      out << "plain, " << main["size"] << " bytes";
    out << ", SWF version " << main["swf_version"] << "\n";
    out << "  mask: " << f["mask"]["size"] << " bytes (" << f["mask"]["packed_size"] << " packed)\n";
    out << "  preview: " << f["preview_size"] << " bytes, settings: " << f["settings_size"]
        << " bytes\n";
    if (all) out << "  fields: " << text(f["fields"]) << "\n";
  }
  const json& s = d["sections"];
  out << "DLL binaries: " << s["dll_binaries"].size() << ", secure variables: " << s["secure_vars"].size()
      << ", files: " << s["files"].size() << ", encrypted strings: " << s["encrypted_string_count"]
      << ", global variables: " << s["global_vars"].size() << "\n";
  for (const char* map : {"secure_vars", "global_vars"})
    for (const auto& item : s[map].items())
      out << "  " << (map[0] == 's' ? "secure" : "global") << " variable " << Shown(item.key())
          << (item.value().is_null() ? "" : " = " + text(item.value())) << "\n";
  for (const auto& item : s["files"].items())
    out << "  file " << Shown(item.key()) << ": " << item.value() << " bytes\n";
  for (const auto& item : s["resources"].items())
    if (!item.value().is_null())
      out << "  " << item.key() << ": " << item.value()["size"] << " bytes (" << item.value()["packed_size"]
          << " packed)\n";
  if (all) out << "options: " << text(s["options"]) << "\n";
}
