// qmgl_hex.h - a number to be written in hexadecimal.
//
// Wrapping an unsigned int in qmgl_hex selects the hexadecimal form when it is written on an
// output stream: "0x", eight lower-case digits and a space.
//
// Example:
//
//   qmgl_hex const code(255);  // written as "0x000000ff "
//
// Thread safety: a plain value.

#ifndef WYGL_QMGL_HEX_H
#define WYGL_QMGL_HEX_H

struct qmgl_hex {
  // The number to be written.
  unsigned int value;

  explicit qmgl_hex(unsigned int v) noexcept : value(v) {}
};

#endif  // WYGL_QMGL_HEX_H
