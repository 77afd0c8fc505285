#pragma once

#include <string>

#include "system/SysFile.h"

// A string field of a package record: scrambled on disk, and read into a
// fresh string so that a stored empty text replaces the field's default
// instead of leaving it.
inline bool ReadRecordText(CSysFile& file, std::wstring& field) {
  std::wstring text;
  if (!file.ReadString(text, true)) return false;
  field = std::move(text);
  return true;
}

inline bool WriteRecordText(CSysFile& file, const std::wstring& text) {
  return file.WriteString(text, true);
}
