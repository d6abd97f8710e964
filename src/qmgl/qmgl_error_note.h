// Error texts that carry the system's text for an error code.
//
// The library's formats for a failed system call end in "%S": the code in decimal, then the
// system's text for it (error_string) as a wide string, as in "ERROR CreateThread rc=%d\n%S".
// A "%S" conversion takes the platform's wide characters, which are 16 bits wide on Windows
// and 32 bits elsewhere; the text is widened to them here.

#ifndef WYGL_SRC_QMGL_QMGL_ERROR_NOTE_H
#define WYGL_SRC_QMGL_QMGL_ERROR_NOTE_H

#include <cstdint>
#include <string>

#include "wytr/wytr_scope.h"

namespace wygl {

// error_string(code) as the platform's wide characters; empty when the system has no text or
// the text cannot be had.
std::wstring wide_system_text(std::uint32_t code) noexcept;

// Writes the error text (level 0x8) format, which takes an int and then a wide string (%S),
// with code and its system text, from scope.
void note_system_error(wytr::operation_scope const& scope, char const* format,
                       std::uint32_t code) noexcept;

}  // namespace wygl

#endif  // WYGL_SRC_QMGL_QMGL_ERROR_NOTE_H
