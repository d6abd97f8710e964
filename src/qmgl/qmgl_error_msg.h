// Error texts as 16-bit units: the piece of error_string that does not depend on the system.

#ifndef WYGL_SRC_QMGL_QMGL_ERROR_MSG_H
#define WYGL_SRC_QMGL_QMGL_ERROR_MSG_H

#include <cstddef>
#include <string>

namespace wygl::error_msg {

// The longest text error_string gives, in 16-bit units. Its conversion buffer holds one
// unit more, which stays 0.
inline constexpr std::size_t max_text_units = 259;

// text (a system text in the current multibyte code page) converted to 16-bit units and cut
// to max_text_units. May throw std::bad_alloc.
std::basic_string<unsigned short> text_units(char const* text);

}  // namespace wygl::error_msg

#endif  // WYGL_SRC_QMGL_QMGL_ERROR_MSG_H
