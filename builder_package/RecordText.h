#pragma once

#include <string>

#include "system/SysFile.h"

// A string field of a package record is scrambled on disk (read by
// RecordReader::Text).
inline bool WriteRecordText(CSysFile& file, const std::wstring& text) {
  return file.WriteString(text, true);
}
