// qmgl_value.h - the variant value.
//
// A qmgl_value holds one of: NULL, a boolean (BOOL), a three-valued boolean (BOOL3), a 32-bit
// integer (INT), a narrow string (STR), a wide string (UNI), a byte string (BIN) or an array
// of values (VALUE_ARRAY); the text reader also makes two markers, end of input (EOI) and end
// of line (EOL). Values are written to and read from the library's streams in a text syntax,
// compare under three-valued logic, and grow into arrays with +=:
//
//   qmgl_value v = 5;                 // INT 5
//   v += qmgl_value("five");          // now the array (5, 'five')
//   qmgl_bool3 same = v == qmgl_value();   // unknown: NULL takes part
//   qmgl_ntarray_of<char, 0> text;
//   qmgl_output_str out(text);
//   v.stream_out(out);                // text is "(5  , 'five' )  "
//   int n = v.as_value_array()[0];    // 5
//
// A value is a handle holding one pointer to a body (qmgl_value_base); the body's class is
// the value's type. NULL, BOOL, BOOL3, EOI and EOL bodies are shared by every value of their
// kind, are never freed and never change, so those values cost no allocation to make, copy
// or drop. Every other body belongs to exactly one handle: copying a value makes a new body,
// which shares the payload of an STR, UNI or BIN (their buffers are reference-counted) and
// copies an array element by element.
//
// Type codes and names: 0 NULL, 1 EOI, 2 EOL, 3 BOOL, 4 BOOL3, 5 INT, 6 STR, 7 UNI, 8 BIN,
// 9 VALUE_ARRAY.
//
// Typed access (as_int, as_charp, ...) answers only for the types it is meant for; any other
// type refuses with exc_invalid_cast_t ("exc_invalid_cast", file src/qmgl/qmgl_value), except
// as_bool, which gives false instead. With trace level 0x10000 enabled, a refusing body first
// writes an inner-operation entry record (kind 0x062A0000, tracepoint 0x141F0100 for as_bool
// up to 0x141F0B00 for as_value_array, object the body) with a text such as
// "object type is STR not INT", and the matching exit record on the way out.
//
// Pointers and references returned by access stay valid while the value keeps its body; any
// assignment to the value may end them.
//
// Failures: every operation that makes a body raises exc_not_enough_memory_t ("not enough
// memory") when memory runs out, and then leaves the value holding what it held before.
//
// Thread safety: a value is not synchronised; a value that one thread changes must not be
// used by another meanwhile. Different values may be used on different threads freely, also
// when they share payload buffers or shared bodies.

#ifndef WYGL_QMGL_VALUE_H
#define WYGL_QMGL_VALUE_H

#include <cstdarg>

#include <wygl/qmgl_ban.h>
#include <wygl/qmgl_bool3.h>
#include <wygl/qmgl_ntarray.h>
#include <wygl/qmgl_refcounted_vector.h>
#include <wygl/wygl_export.h>

struct qmgl_output;
struct qmgl_value;
struct qmgl_value_array;

// The body of a value: the abstract root of the body classes (value_null_t, value_int_t, ...,
// one per type). Hosts reach bodies only through qmgl_value; the operations are listed here
// in their fixed slot order.
struct WYGL_API qmgl_value_base : qmgl_ban_copy_and_assignment {
  // A body for a new handle with this body's content: a shared body returns itself, an owned
  // body a new copy. Raises exc_not_enough_memory_t.
  virtual qmgl_value_base* clone() const = 0;
  // Deleting a shared body raises exc_should_not_execute_t and leaves it intact, hence the
  // permission to throw.
  virtual ~qmgl_value_base() noexcept(false);
  // Gives the body up: an owned body deletes itself, a shared body does nothing.
  virtual void release();

  // Same-type comparison. Called only with a body of the same type code; NULL, EOI and EOL
  // bodies raise exc_should_not_execute_t, since comparisons stop before them.
  virtual bool is_equal(qmgl_value_base const& other) const = 0;
  virtual bool is_less(qmgl_value_base const& other) const = 0;

  // The array operations, answered by a VALUE_ARRAY body only (every other body raises
  // exc_should_not_execute_t): its array += or -= the argument. Each returns the body.
  virtual qmgl_value_base& append_array(qmgl_value_array const& a);
  virtual qmgl_value_base& append_value(qmgl_value const& v);
  virtual qmgl_value_base& remove_array(qmgl_value_array const& a);
  virtual qmgl_value_base& remove_value(qmgl_value const& v);

  virtual unsigned type_code() const = 0;

  // The type tests of qmgl_value (below), plus is_eol, true for EOL only.
  virtual bool is_null() const;
  virtual bool is_eoi() const;
  virtual bool is_eol() const;
  virtual bool is_bool() const;
  virtual bool is_bool3() const;
  virtual bool is_int() const;
  virtual bool is_charp() const;
  virtual bool is_unicharp() const;
  virtual bool is_binaryp() const;
  virtual bool is_str() const;
  virtual bool is_uni() const;
  virtual bool is_uni_ex() const;
  virtual bool is_bin() const;
  virtual bool is_value_array() const;

  // Typed access of qmgl_value (below); by default each refuses.
  virtual bool as_bool() const;
  virtual qmgl_bool3 as_bool3() const;
  virtual int as_int() const;
  virtual char const* as_charp() const;
  virtual unsigned short const* as_unicharp() const;
  virtual unsigned char const* as_binaryp() const;
  virtual qmgl_ntarray_of<char, 0> const& as_str() const;
  virtual qmgl_ntarray_of<unsigned short, 0> const& as_uni() const;
  virtual qmgl_refcounted_vector_of<unsigned char> const& as_bin() const;
  virtual qmgl_refcounted_vector_of<unsigned char> as_bytes() const;
  virtual qmgl_value_array const& as_value_array() const;

  // The text writer of qmgl_value (below).
  virtual void stream_out(qmgl_output& out) const = 0;
  virtual unsigned output_length() const = 0;

 protected:
  constexpr qmgl_value_base() noexcept = default;
};

// The handle. It holds nothing but its body pointer, which is never null.
struct WYGL_API qmgl_value {
  qmgl_value_base* _body;

  // ---- construction ----
  // Every constructor that makes an owned body allocates it anew; on failure nothing is made.

  // NULL.
  qmgl_value() noexcept;
  // A copy of v: v's body cloned (shared bodies are not copied).
  qmgl_value(qmgl_value const& v);
  // Takes v's body and leaves v NULL. Never raises.
  qmgl_value(qmgl_value&& v) noexcept;
  // BOOL: the shared body for b. A bool whose stored byte is neither 0 nor 1 raises
  // exc_assertion_failed_t ("assertion failed: b == false || b == true").
  qmgl_value(bool b);  // NOLINT: implicit, as are all the converting constructors
  // BOOL3: the shared body for b. A b holding none of the three states raises
  // exc_assertion_failed_t ("assertion failed: b == qmgl_bool3(qmgl_bool3_false) ||
  // b == qmgl_bool3(qmgl_bool3_true) || b == qmgl_bool3(qmgl_bool3_unknown)").
  qmgl_value(qmgl_bool3 b);                       // NOLINT
  qmgl_value(qmgl_bool3_value b);                 // NOLINT
  qmgl_value(int n);                              // NOLINT: INT
  qmgl_value(char const* s);                      // NOLINT: STR, a new string made from s
  qmgl_value(unsigned short const* s);            // NOLINT: UNI, a new wide string made from s
  qmgl_value(qmgl_ntarray_of<char, 0> const& s);  // NOLINT: STR sharing s
  qmgl_value(qmgl_ntarray_of<unsigned short, 0> const& s);        // NOLINT: UNI sharing s
  qmgl_value(qmgl_refcounted_vector_of<unsigned char> const& v);  // NOLINT: BIN sharing v
  qmgl_value(qmgl_value_array const& a);  // NOLINT: VALUE_ARRAY holding a copy of a
  // VALUE_ARRAY of the wide strings listed at *p: NUL-terminated strings one after another,
  // ended by an empty string. Each string becomes a UNI element, in order; an empty first
  // string (or a null p or *p) gives an empty array. *p is not advanced.
  qmgl_value(unsigned short const** p);  // NOLINT

  // Releases the body.
  ~qmgl_value();

  // ---- assignment ----
  // Each gives the value what the matching constructor makes. The new body is made before the
  // old one is released, so on failure the value keeps its old content; an argument that
  // points into the value itself (v = v.as_charp()) is read before anything changes.

  // Nothing for v = v.
  qmgl_value& operator=(qmgl_value const& v);
  // Takes v's body and leaves v NULL. Never raises.
  qmgl_value& operator=(qmgl_value&& v) noexcept;
  qmgl_value& operator=(bool b);
  qmgl_value& operator=(qmgl_bool3 b);
  qmgl_value& operator=(qmgl_bool3_value b);
  qmgl_value& operator=(int n);
  qmgl_value& operator=(char const* s);
  qmgl_value& operator=(unsigned short const* s);
  qmgl_value& operator=(qmgl_ntarray_of<char, 0> const& s);
  qmgl_value& operator=(qmgl_ntarray_of<unsigned short, 0> const& s);
  qmgl_value& operator=(qmgl_refcounted_vector_of<unsigned char> const& v);
  qmgl_value& operator=(qmgl_value_array const& a);

  // Exchanges the two bodies; copies nothing. Never raises.
  void swap(qmgl_value& other) noexcept {
    qmgl_value_base* const mine = _body;
    _body = other._body;
    other._body = mine;
  }

  // Replaces the value by one of the same type taken from a variable argument list, and
  // advances args past what it takes. The list is passed by reference so that the caller's
  // position moves on every platform. By the current type:
  //   BOOL   one int whose low byte is 0 or 1 (else exc_assertion_failed_t,
  //          "assertion failed: value == false || value == true")
  //   BOOL3  one qmgl_bool3 passed by value, holding one of the three states (else
  //          exc_assertion_failed_t, "assertion failed: value == qmgl_bool3(qmgl_bool3_false)
  //          || value == qmgl_bool3(qmgl_bool3_true) || value == qmgl_bool3(qmgl_bool3_unknown)")
  //   INT    one int
  //   STR    one char const*, copied
  //   UNI    one unsigned short const*, copied
  //   BIN    one unsigned char const*, then one unsigned int count of bytes, copied
  // NULL raises exc_invalid_operation_t ("exc_invalid_operation"); EOI, EOL and VALUE_ARRAY
  // raise exc_invariant_failed_t ("exc_invariant_failed"); neither takes anything. On any
  // failure the value is unchanged.
  qmgl_value& assign(va_list& args);

  // ---- type tests ----

  // NULL, EOI or EOL.
  bool is_null() const { return _body->is_null(); }
  bool is_eoi() const { return _body->is_eoi(); }
  bool is_bool() const { return _body->is_bool(); }
  // BOOL or BOOL3.
  bool is_bool3() const { return _body->is_bool3(); }
  bool is_int() const { return _body->is_int(); }
  bool is_charp() const { return _body->is_charp(); }
  bool is_unicharp() const { return _body->is_unicharp(); }
  bool is_binaryp() const { return _body->is_binaryp(); }
  bool is_str() const { return _body->is_str(); }
  bool is_uni() const { return _body->is_uni(); }
  // UNI whose text holds at least one '%'.
  bool is_uni_ex() const { return _body->is_uni_ex(); }
  bool is_bin() const { return _body->is_bin(); }
  bool is_value_array() const { return _body->is_value_array(); }
  // The two type codes are equal (BOOL and BOOL3 differ, as do NULL, EOI and EOL).
  bool is_same_type(qmgl_value const& v) const {
    return _body->type_code() == v._body->type_code();
  }

  // ---- typed access ----

  // BOOL: its value; BOOL3: true only for true. Every other type gives false, never raises.
  bool as_bool() const { return _body->as_bool(); }
  operator bool() const { return _body->as_bool(); }  // NOLINT: implicit, as documented
  // BOOL or BOOL3.
  qmgl_bool3 as_bool3() const { return _body->as_bool3(); }
  // INT.
  int as_int() const { return _body->as_int(); }
  operator int() const { return _body->as_int(); }  // NOLINT
  // STR: its characters.
  char const* as_charp() const { return _body->as_charp(); }
  operator char const*() const { return _body->as_charp(); }  // NOLINT
  // UNI: its characters.
  unsigned short const* as_unicharp() const { return _body->as_unicharp(); }
  operator unsigned short const*() const { return _body->as_unicharp(); }  // NOLINT
  // BIN: its bytes.
  unsigned char const* as_binaryp() const { return _body->as_binaryp(); }
  // STR, UNI, BIN: the payload inside the body.
  qmgl_ntarray_of<char, 0> const& as_str() const { return _body->as_str(); }
  qmgl_ntarray_of<unsigned short, 0> const& as_uni() const { return _body->as_uni(); }
  qmgl_refcounted_vector_of<unsigned char> const& as_bin() const { return _body->as_bin(); }
  // VALUE_ARRAY whose elements are all UNI: a new byte vector of every element's 16-bit
  // units and its terminating 0, each unit as two bytes low first, then two zero bytes (the
  // inverse of the wide-string list constructor). An element that is not UNI refuses as its
  // as_unicharp does. Every other type refuses, BIN included: a BIN value is no list.
  qmgl_refcounted_vector_of<unsigned char> as_bytes() const { return _body->as_bytes(); }
  // VALUE_ARRAY: the array inside the body.
  qmgl_value_array const& as_value_array() const { return _body->as_value_array(); }

  // ---- comparison (three-valued) ----
  // NULL, EOI or EOL on either side make every comparison unknown. Otherwise values of the
  // same type compare by content; BOOL and BOOL3 compare with each other through as_bool3
  // (ordered unknown < false < true); values of other differing types are unequal, and
  // ordering them raises exc_invalid_operation_t ("exc_invalid_operation"). == and != never
  // raise. Arrays compare as true or false, never unknown.

  qmgl_bool3 operator==(qmgl_value const& b) const;
  // !(a == b): not unknown is unknown.
  qmgl_bool3 operator!=(qmgl_value const& b) const;
  qmgl_bool3 operator<(qmgl_value const& b) const;
  // b < a.
  qmgl_bool3 operator>(qmgl_value const& b) const;
  // !(b < a).
  qmgl_bool3 operator<=(qmgl_value const& b) const;
  // !(a < b).
  qmgl_bool3 operator>=(qmgl_value const& b) const;

  // ---- array arithmetic ----

  // Appends v, or each element of v when v is a VALUE_ARRAY. A value that is not yet a
  // VALUE_ARRAY first becomes one holding its old value as element 0 (NULL included). On
  // failure the value is unchanged.
  qmgl_value& operator+=(qmgl_value const& v);
  // Appends each element of arr.
  qmgl_value& operator+=(qmgl_value_array const& arr);
  // Removes every element that equals v (true, not unknown), or that equals some element of
  // v when v is a VALUE_ARRAY. A value that is not a VALUE_ARRAY raises
  // exc_should_not_execute_t ("exc_should_not_execute") and stays unchanged.
  qmgl_value& operator-=(qmgl_value const& v);
  qmgl_value& operator-=(qmgl_value_array const& arr);

  // ---- text ----

  // Writes the value's text: "null ", "true ", "false ", "unknown ", an INT as out << n
  // (digits and two spaces), an STR quoted with apostrophes ('it''s' and one space), a UNI
  // converted to UTF-8 and quoted with double quotes, then two spaces, a BIN as "#", two
  // lower-case hexadecimal digits per byte and one space, a VALUE_ARRAY as
  // "(" elements ", "-separated ") " and one more space, EOI as "-1  ", EOL as one NUL.
  // Failures of the stream pass out, leaving part of the text written.
  void stream_out(qmgl_output& out) const { _body->stream_out(out); }
  // The length of the text without its trailing spaces, counted as: NULL 4; BOOL true 4,
  // false 5; BOOL3 true 4, false and unknown 5; INT its digits plus a minus sign; STR its
  // characters (no quotes, no doubling); UNI its UTF-8 characters plus one per double quote
  // in them; BIN 2 per byte plus 1; VALUE_ARRAY 2 when empty, else the sum of its elements'
  // lengths plus 2 each; EOI 1; EOL 1.
  unsigned output_length() const { return _body->output_length(); }
};

#include <wygl/qmgl_value_array.h>

#endif  // WYGL_QMGL_VALUE_H
