#include "builder_package/ReadFailure.h"

std::string ReadFailure::ToString() const {
  if (!failed()) return std::string();
  std::string text;
  auto part = [&text](const std::string& piece) {
    if (piece.empty()) return;
    if (!text.empty()) text += ", ";
    text += piece;
  };
  if (offset >= 0) part("at byte " + std::to_string(offset));
  part(record);
  part(field);
  return text.empty() ? problem : text + ": " + problem;
}
