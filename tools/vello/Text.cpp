#include "tools/vello/Text.h"

#include <cerrno>
#include <cstring>

#include "system/SysStringHelper.h"
#include "tools/vello/ToolError.h"

std::wstring Wide(const std::string& utf8) { return CSysStringHelper::GetSingleton().FromUTF8(utf8); }

std::wstring Wide(const std::filesystem::path& path) { return Wide(path.string()); }

std::string Utf8(const std::wstring& wide) { return CSysStringHelper::GetSingleton().ToUTF8(wide); }

std::wstring WidePath(const std::string& path) {
  std::wstring wide = Wide(path);
  if (Utf8(wide) != path)
    throw ToolError(kExitUsage, path + ": the library takes this path as Unicode text, and it is not UTF-8");
  return wide;
}

std::string LastSystemError() { return std::strerror(errno); }
