// pack_demo PACKAGE MAIN PREVIEW SETTINGS: packs the three SWF files as the
// one form of a new package, the way the building tool does. The main
// program is stored protected, so the demo exercises the codec too.

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "builder_package/Package.h"
#include "builder_package/PackageForm.h"
#include "demo/DemoToolArgs.h"
#include "system/SysStringHelper.h"

int main(int argc, char** argv) {
  const DemoToolUsage usage = {
      "pack_demo", "PACKAGE MAIN.swf PREVIEW.swf SETTINGS.swf",
      "Packs the three programs as the one form of a new package PACKAGE.", 4};
  std::vector<std::string> args;
  int exitCode = 0;
  if (!StartDemoTool(usage, std::vector<std::string>(argv + 1, argv + argc), args, exitCode))
    return exitCode;
  CSysStringHelper& strings = CSysStringHelper::GetSingleton();
  auto wide = [&strings](const std::string& utf8) { return strings.FromUTF8(utf8); };

  const std::filesystem::path package = args[0];
  std::error_code ec;
  if (package.has_parent_path()) std::filesystem::create_directories(package.parent_path(), ec);

  auto* form = new CPackageForm;
  CPackage pack;
  pack.AddForm(form);  // the package owns the form from here on
  form->SetFormName(L"lumetta demo");
  if (!form->PackSWF(wide(args[1]), true, "lumetta demo")) {
    std::cerr << "pack_demo: cannot read the main program " << args[1] << "\n";
    return 1;
  }
  if (!form->PackSaverPreview(wide(args[2]))) {
    std::cerr << "pack_demo: cannot read the preview program " << args[2] << "\n";
    return 1;
  }
  if (!form->PackSaverSettings(wide(args[3]))) {
    std::cerr << "pack_demo: cannot read the settings program " << args[3] << "\n";
    return 1;
  }
  if (!pack.Save(0, wide(args[0]))) {
    std::cerr << "pack_demo: cannot write " << args[0] << "\n";
    return 1;
  }
  return 0;
}
