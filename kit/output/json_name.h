// File names as JSON strings. A name is bytes; JSON strings are Unicode. A name that is
// valid UTF-8 is kept as it is; one that is not is read as Latin-1: each byte from 0x80 becomes
// the character U+0080 to U+00FF of its value, and the output says so with a field
// NAME_not_utf8: true, so that the bytes can be had back exactly.
#pragma once

#include <string>
#include <string_view>

// True when `bytes` is valid UTF-8 (shortest forms only, no surrogates, at most U+10FFFF).
bool is_utf8(std::string_view bytes);

// Each byte as the character of its value (Latin-1), encoded as UTF-8.
std::string latin1_to_utf8(std::string_view bytes);
