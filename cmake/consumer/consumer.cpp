// Packs a program into a package, loads it back and says what it holds,
// through the installed headers and library only.

#include <builder_package/Package.h>
#include <builder_package/PackageForm.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string folder = argv[1];
  const std::string program = folder + "/program.swf", package = folder + "/consumer.dat";
  if (FILE* f = std::fopen(program.c_str(), "wb")) {
    std::fwrite("FWS\x0a\x11\0\0\0 consumer", 1, 17, f);
    std::fclose(f);
  }
  const std::wstring wideProgram(program.begin(), program.end()), widePackage(package.begin(), package.end());
  {
    CPackage out;
    auto* form = new CPackageForm;
    out.AddForm(form);
    form->SetFormName(L"consumer");
    if (!form->PackSWF(wideProgram, false, "") || !out.Save(0, widePackage)) return 1;
  }
  CPackage in;
  if (!in.Load(0, widePackage) || in.GetFormCount() != 1) return 1;
  const CPackageForm* form = in.GetForm(0);
  const std::wstring& name = form->GetFormName();
  std::printf("consumer: read back %d form named \"%s\", %d bytes, package version %d\n", in.GetFormCount(),
              std::string(name.begin(), name.end()).c_str(), form->GetSWFSize(), in.GetStoredVersion());
  return 0;
}
