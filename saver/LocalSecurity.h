#pragma once

// The Flash Player plug-in's switch for its local-file security. The pages
// open their programs from local files, which the plug-in refuses unless the
// switch is thrown. Where the plug-in is not installed nothing happens.

inline constexpr char kFlashPlayerModulePath[] =
    "/Library/Internet Plug-Ins/Flash Player.plugin/Contents/MacOS/Flash Player";
inline constexpr char kDisableLocalSecuritySymbol[] = "Flash_DisableLocalSecurity";

// Opens the module (lazy binding, local scope), looks up the function of
// that name and calls it with no arguments. The module stays loaded for the
// rest of the process. False when the module does not open or lacks the
// function.
bool CallModuleFunction(const char* modulePath, const char* functionName);
