#include <string>

#include "system/DirWalk.h"
#include "system/ResourcePath.h"
#include "system/SysStringHelper.h"
#include "system/System.h"

namespace {

// The text after the last "." of a name, or empty.
std::string Extension(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

}  // namespace

CDirEnumerator* CDirEnumerator::GetSingleton() {
  static CDirEnumerator instance;
  return &instance;
}

std::wstring CDirEnumerator::GetResourcePath() {
  return CSysStringHelper::GetSingleton().FromUTF8(ResourceFolder());
}

bool CDirEnumerator::FindFiles(const std::wstring& dir, const std::wstring& ext,
                               std::vector<std::wstring>& list) {
  const CSysStringHelper& helper = CSysStringHelper::GetSingleton();
  std::string folder, extension;
  if (dir.find(L'\0') != std::wstring::npos || !helper.NativeToUTF8(dir, folder) ||
      !helper.NativeToUTF8(ext, extension))
    return !list.empty();
  return AppendEntriesBelow(
      folder, [&](const std::string& name) { return Extension(name) == extension; }, list);
}
