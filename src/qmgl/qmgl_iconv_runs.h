// The conversions of qmgl_iconv.h over runs of known length, for library code that writes the
// UTF-8 form in place or has the UTF-8 bytes somewhere other than in a string. The results
// are those of qmgl_uni_to_qmgl_str and qmgl_str_to_qmgl_uni.

#ifndef WYGL_SRC_QMGL_QMGL_ICONV_RUNS_H
#define WYGL_SRC_QMGL_QMGL_ICONV_RUNS_H

#include <cstddef>

#include <wygl/qmgl_ntarray.h>

// The size in bytes of the UTF-8 form of the n units at text, none of them 0; text[n] must be
// readable and 0, as behind the text of a wide string.
std::size_t qmgl_utf8_size(unsigned short const* text, std::size_t n) noexcept;
// Writes that UTF-8 form (qmgl_utf8_size bytes, none of them 0) at to; returns its end.
char* qmgl_utf16_to_utf8(unsigned short const* text, std::size_t n, char* to) noexcept;
// The wide string of the n UTF-8 bytes at text, raising as qmgl_str_to_qmgl_uni.
qmgl_ntarray_of<unsigned short, 0> qmgl_utf8_to_uni(char const* text, std::size_t n);

#endif  // WYGL_SRC_QMGL_QMGL_ICONV_RUNS_H
