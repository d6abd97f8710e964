// qmgl_bitstr.h - a growable string of bits, and the set of the 256 byte values built on it.
//
// qmgl_bitstr holds whole bytes; bit n lives in byte n / 8 as the value 1 << (n % 8). Writing
// a bit beyond the held bytes grows the string to reach it (new bytes start at zero); reading
// one there is a failed check and never grows it.
//
// qmgl_char_set is a set of byte values: a character is a member when the bit of its value,
// taken as unsigned (0 to 255), is set.
//
// Example:
//
//   qmgl_bitstr flags(10);      // 2 bytes, all clear
//   flags.set(3, true);
//   flags.set(40, true);        // grows to 6 bytes
//   flags.test(3);              // true
//   flags.test(48);             // raises exc_assertion_failed_t
//
//   qmgl_char_set delimiters;
//   delimiters.add(',');
//   delimiters.contains(',');   // true
//
// Thread safety: an object is used by one thread at a time; const members may run on several
// threads at once.

#ifndef WYGL_QMGL_BITSTR_H
#define WYGL_QMGL_BITSTR_H

#include <wygl/qmgl_local.h>
#include <wygl/wygl_export.h>

struct WYGL_API qmgl_bitstr {
  // The number of bytes held.
  unsigned _size;
  // The bytes, exactly _size of them.
  qmgl_local_array_of<unsigned char> _bytes;

  // (bits + 7) / 8 bytes, all zero (computed without overflow for any bits). Raises
  // exc_not_enough_memory_t when there is no memory for them.
  explicit qmgl_bitstr(unsigned bits);

  // Its own bytes, the same number with the same values. Raises exc_not_enough_memory_t.
  qmgl_bitstr(qmgl_bitstr const& other);

  // Takes the size and bytes of other. Raises exc_not_enough_memory_t, and then keeps its own
  // bytes unchanged.
  qmgl_bitstr& operator=(qmgl_bitstr const& other);

  ~qmgl_bitstr();

  // Sets bit n to value. When n / 8 >= _size the string first grows to n / 8 + 1 bytes, the
  // old bytes kept and the new ones zero; growing raises exc_not_enough_memory_t (file
  // "src/qmgl/qmgl_bitstr") when there is no memory, and the string is then unchanged.
  void set(unsigned n, bool value);

  // Sets every held bit (every byte 0xFF).
  void set() noexcept;

  // Clears every held bit.
  void reset() noexcept;

  // set(n, false), growing the same way.
  void reset(unsigned n);

  // The value of bit n. When n / 8 >= _size it raises exc_assertion_failed_t with the message
  // "assertion failed: byte_num < _size" (file "src/qmgl/qmgl_bitstr"); it never grows.
  bool test(unsigned n) const;
};

struct WYGL_API qmgl_char_set {
  // 256 bits, one for each byte value.
  qmgl_bitstr _bits;

  // The empty set. Raises exc_not_enough_memory_t.
  qmgl_char_set();

  // The members are the byte value of c, 0 to 255: a negative char counts as c + 256.
  void add(char c);
  void del(char c);
  bool contains(char c) const;

  // Removes every member.
  void empty() noexcept;
};

#endif  // WYGL_QMGL_BITSTR_H
