#include "system/DirWalk.h"

#include <filesystem>
#include <system_error>

#include "system/SysStringHelper.h"

namespace fs = std::filesystem;

bool AppendEntriesBelow(const std::string& folder,
                        const std::function<bool(const std::string& name)>& keep,
                        std::vector<std::wstring>& list) {
  const CSysStringHelper& helper = CSysStringHelper::GetSingleton();
  const fs::path root(folder);
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec),
       end;
       !ec && it != end; it.increment(ec)) {
    if (!keep(it->path().filename().string())) continue;
    const std::string relative = it->path().lexically_relative(root).string();
    const std::wstring wide = helper.FromUTF8(relative);
    // FromUTF8 stops at the first illegal byte: such a name is left out
    // rather than listed cut short.
    if (helper.ToUTF8(wide) == relative) list.push_back(wide);
  }
  return !list.empty();
}
