#pragma once

#include <filesystem>
#include <string>

// The library takes paths and names as wide strings; the command line and
// JSON speak UTF-8.
std::wstring Wide(const std::string& utf8);
std::wstring Wide(const std::filesystem::path& path);
std::string Utf8(const std::wstring& wide);
