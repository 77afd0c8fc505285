#pragma once

#include <memory>
#include <string>
#include <vector>

// Process-wide state shared by every saver view in the process: the paths of
// the temporary files the last extraction wrote, and the programs held in
// memory for the special URL scheme. All of it lives on the host's thread.

// UTF-8 paths of the extracted main, preview and settings programs. Each
// extraction overwrites them; each view release deletes the files they name.
extern std::string g_full;
extern std::string g_settings;
extern std::string g_preview;

// One SWF program held in memory.
using SwfData = std::shared_ptr<const std::vector<unsigned char>>;

// Programs in memory, served by the special URL scheme. Null until a window
// layer is about to load its page: lumetta's host for it (WindowHost.cpp)
// then calls LoadProgramsIntoMemory (swfprotocol.h), which reads
// them from the files g_full, g_preview and g_settings name, null where a
// path names no file of ours. The headless layer leaves them null.
extern SwfData g_swfFull;
extern SwfData g_swfPreview;
extern SwfData g_swfSettings;
