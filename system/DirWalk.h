#pragma once

#include <functional>
#include <string>
#include <vector>

// The deep walk below a folder (given in UTF-8), through
// std::filesystem::recursive_directory_iterator. Appends, decoded from
// UTF-8, the path relative to the folder of every entry whose name `keep`
// accepts: folders and links included, links never followed (so no loop),
// subfolders that cannot be read skipped, names that are not UTF-8 left
// out. Order is the walk's. True when the list then holds an entry.
// Never throws; an error other than a refused subfolder ends the walk.
bool AppendEntriesBelow(const std::string& folder,
                        const std::function<bool(const std::string& name)>& keep,
                        std::vector<std::wstring>& list);
