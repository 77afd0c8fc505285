#pragma once

#include <string>
#include <string_view>

// Text lumetta prints that it did not write itself (what the page says,
// the OpenGL driver's name, paths, the environment) may hold bytes that
// drive a terminal: a title, colours, a cursor that moves over earlier
// lines. Printable shows them instead of sending them: "\n", "\r", "\t",
// "\\" and "\xNN" for the other C0 controls, DEL and bytes that are not
// UTF-8, "\u0080" to "\u009f" for the C1 controls. Everything else (the
// printable ASCII and well-formed UTF-8) is kept as it is.
std::string Printable(std::string_view text);

// Printable, cut to at most maxBytes of the text given (whole characters)
// with "..." after it when something was left out.
std::string Printable(std::string_view text, size_t maxBytes);
