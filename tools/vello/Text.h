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

// Text meant for a terminal with its control characters escaped, so that a
// name in a package cannot move the cursor, recolour the screen or set the
// window's title: C0 controls and DEL as \xNN, the C1 controls (U+0080 to
// U+009F, which some terminals obey as ESC sequences) as \u00NN, and bytes
// that are not UTF-8 as \xNN. Everything else passes unchanged.
std::string Shown(const std::string& text);
