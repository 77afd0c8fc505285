// pack_demo PACKAGE MAIN PREVIEW SETTINGS: packs the three SWF files as the
// one form of a new package, the way the building tool does. The main
// program is stored protected, so the demo exercises the codec too.

#include <filesystem>
#include <iostream>
#include <string>

#include "builder_package/Package.h"
#include "builder_package/PackageForm.h"
#include "system/SysStringHelper.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: pack_demo PACKAGE MAIN.swf PREVIEW.swf SETTINGS.swf\n";
    return 2;
  }
  CSysStringHelper& strings = CSysStringHelper::GetSingleton();
  auto wide = [&strings](const char* utf8) { return strings.FromUTF8(utf8); };

  const std::filesystem::path package = argv[1];
  std::error_code ec;
  if (package.has_parent_path()) std::filesystem::create_directories(package.parent_path(), ec);

  auto* form = new CPackageForm;
  CPackage pack;
  pack.AddForm(form);  // the package owns the form from here on
  form->SetFormName(L"lumetta demo");
  if (!form->PackSWF(wide(argv[2]), true, "lumetta demo")) {
    std::cerr << "pack_demo: cannot read the main program " << argv[2] << "\n";
    return 1;
  }
  if (!form->PackSaverPreview(wide(argv[3]))) {
    std::cerr << "pack_demo: cannot read the preview program " << argv[3] << "\n";
    return 1;
  }
  if (!form->PackSaverSettings(wide(argv[4]))) {
    std::cerr << "pack_demo: cannot read the settings program " << argv[4] << "\n";
    return 1;
  }
  if (!pack.Save(0, wide(argv[1]))) {
    std::cerr << "pack_demo: cannot write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}
