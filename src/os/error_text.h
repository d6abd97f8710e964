// The system's own texts for error codes in Windows numbering (system and socket errors).
//
// The Windows backend asks the system's message table. The POSIX backend has a table of its
// own for every code that it produces (its errno maps, its named objects, its sockets and name
// lookups), with texts of the same shape: English sentences, each ending in "\r\n".

#ifndef WYGL_SRC_OS_ERROR_TEXT_H
#define WYGL_SRC_OS_ERROR_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace wygl::os {

// Replaces text with the system's text for code, exactly as the system gives it (line end
// included), and returns true; returns false and leaves text empty when the system has no text
// for code. May throw std::bad_alloc.
bool system_error_text(std::uint32_t code, std::string& text);

// Converts text, in the current multibyte code page, to 16-bit units: at most max_units units
// go to units, which must have room for them; the rest of units is left as it is. Returns
// the number of units written; a character that cannot be converted ends the conversion.
// May throw std::bad_alloc.
std::size_t system_text_to_units(char const* text, unsigned short* units, std::size_t max_units);

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_ERROR_TEXT_H
