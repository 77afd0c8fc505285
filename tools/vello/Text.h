#pragma once

#include <filesystem>
#include <string>

// The library takes paths and names as wide strings; the command line and
// JSON speak UTF-8.
std::wstring Wide(const std::string& utf8);
std::wstring Wide(const std::filesystem::path& path);
std::string Utf8(const std::wstring& wide);
// A command-line path for the library's wide-string operations. Throws
// ToolError(kExitUsage) when it does not convert whole and back to the
// same bytes: the library would then open some other file.
std::wstring WidePath(const std::string& path);
