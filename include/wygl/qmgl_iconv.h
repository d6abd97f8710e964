// qmgl_iconv.h - conversion between wide text (UTF-16) and narrow text (UTF-8).
//
//   qmgl_ntarray_of<char, 0> n = qmgl_uni_to_qmgl_str(wide);      // UTF-16 -> UTF-8
//   qmgl_ntarray_of<unsigned short, 0> w = qmgl_str_to_qmgl_uni(n); // UTF-8 -> UTF-16
//
// Both follow the reference conversion between UTF-16 and UTF-8 in its lenient form: nothing
// is validated but the end of the input. Unpaired surrogates are encoded like any other unit;
// overlong forms and the old five- and six-byte forms are decoded; continuation bytes are not
// checked for their 10xxxxxx form. Both take time linear in the length of the text.
//
// Thread safety: both functions touch no shared state besides the counts of the strings they
// are given.

#ifndef WYGL_QMGL_ICONV_H
#define WYGL_QMGL_ICONV_H

#include <wygl/qmgl_ntarray.h>
#include <wygl/wygl_export.h>

// UTF-16 to UTF-8: the units up to the first unit 0. A lead surrogate followed by a trail
// surrogate makes one code point (four bytes); any other unit, an unpaired surrogate too, is
// encoded as its own code point in one to three bytes. A null pointer gives the empty text.
// Raises exc_not_enough_memory_t when the result cannot be allocated.
WYGL_API qmgl_ntarray_of<char, 0> const qmgl_uni_to_qmgl_str(unsigned short const* text);

// UTF-8 to UTF-16: the bytes of text up to its length. Each lead byte announces its trailing
// bytes (0x00-0xBF none, so a stray continuation byte stands for itself; 0xC0-0xDF one;
// 0xE0-0xEF two; 0xF0-0xF7 three; 0xF8-0xFB four; 0xFC-0xFF five), which are taken whatever
// they hold. A code point up to 0xFFFF becomes one unit, one up to 0x10FFFF a surrogate pair,
// any larger value the unit 0xFFFD. A decoded 0 (such as the overlong 0xC0 0x80) adds
// nothing, as appending the unit 0 to a text leaves the text as it was: the units after it
// follow on directly ("A" 0xC0 0x80 "B" gives the units 0x0041 0x0042).
// Raises exc_unexpected_end_of_input_t ("exc_unexpected_end_of_input", file
// src/qmgl/qmgl_iconv) when a sequence is cut short by the end of the text, with nothing of
// the conversion kept; exc_not_enough_memory_t when the result cannot be allocated.
WYGL_API qmgl_ntarray_of<unsigned short, 0> const qmgl_str_to_qmgl_uni(
    qmgl_ntarray_of<char, 0> text);

#endif  // WYGL_QMGL_ICONV_H
