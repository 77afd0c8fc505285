#include "saver/SaverGlobals.h"

// Defined in one unit so they are constructed in this order (and destroyed
// in the reverse order at exit).
std::string g_full;
std::string g_settings;
std::string g_preview;

SwfData g_swfFull;
SwfData g_swfPreview;
SwfData g_swfSettings;
