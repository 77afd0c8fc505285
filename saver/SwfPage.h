#pragma once

#include <string>

// The HTML page that shows one extracted program through an embed element.

// The path the page of that type points at: g_full, g_preview or g_settings
// for types 0, 1 and 2; null for any other type.
const std::string* SwfPathOfType(int type);

// path with the characters that would change a file URL's meaning ('%',
// '#', '?' and space) percent-encoded; every other byte, UTF-8 included,
// stays as it is.
std::string EncodeFileUrlPath(const std::string& path);

// text with '"', '<', '>' and '&' written as character references, so a
// path cannot end the attribute it is placed in.
std::string EscapeHtmlAttribute(const std::string& text);

// The UTF-8 page for the program type. Types other than 0, 1 and 2 give a
// page without the embed element's opening and source.
std::string ComposeSwfPage(int type);
