// qmgl_value_array.h - ordered lists of values.
//
// qmgl_value_array is the payload of a VALUE_ARRAY value (qmgl_value.h): an ordered list of
// values that it owns. Copying an array copies every value. Appending never nests: appending
// a VALUE_ARRAY value, or another array, appends its elements one by one. Removal is by
// three-valued equality: only an element that compares true goes.
//
// Example:
//
//   qmgl_value_array a;
//   a += qmgl_value(1);
//   a += qmgl_value(2);
//   a += a;                        // (1, 2, 1, 2)
//   a -= qmgl_value(2);            // (1, 1)
//   bool has = a.contains(1);      // true
//   qmgl_ntarray_of<char, 0> text;
//   qmgl_output_str out(text);
//   out << a;                      // text is "(1  , 1  ) "
//
// get_size() is always the number of values held. Appending n values one at a time costs
// time linear in n: the storage keeps room for more behind the values in use. Every slot in
// use holds a valid value.
//
// An argument may refer into the array itself (a += a, a += a[0], a -= a): whatever the
// operation needs of it is read before the array changes. a -= a keeps exactly the elements
// that compare unknown with every element, the NULL, EOI and EOL ones.
//
// Failures: growing the storage raises exc_not_enough_memory_t ("not enough memory", file
// src/qmgl/qmgl_local; file src/qmgl/qmgl_value_array for more than 0xFFFFFFFF values);
// copying a value may raise it too (file src/qmgl/qmgl_value). An operation that raises
// leaves the array as it was.
//
// Thread safety: an array is not synchronised; one that a thread changes must not be used by
// another meanwhile.

#ifndef WYGL_QMGL_VALUE_ARRAY_H
#define WYGL_QMGL_VALUE_ARRAY_H

#include <wygl/qmgl_local.h>
#include <wygl/qmgl_value.h>
#include <wygl/wygl_export.h>

class qmgl_value_array_builder;

// The value block of arrays: every element of a new block is NULL.
extern template struct WYGL_API qmgl_local_array_of<qmgl_value>;

struct WYGL_API qmgl_value_array {
  // Empty.
  qmgl_value_array() noexcept;
  // A copy of every value of a, in order.
  qmgl_value_array(qmgl_value_array const& a);
  ~qmgl_value_array();

  // Makes this array a copy of a; nothing for a = a.
  qmgl_value_array& operator=(qmgl_value_array const& a);

  // The number of values.
  unsigned get_size() const noexcept { return _size; }

  // The value at i. An i not below get_size() raises exc_domain_overflow_t
  // ("exc_domain_overflow", file src/qmgl/qmgl_value_array).
  qmgl_value& operator[](unsigned i);
  qmgl_value const& operator[](unsigned i) const;

  // Appends a copy of v, or copies of each element of v when v is a VALUE_ARRAY.
  qmgl_value_array& operator+=(qmgl_value const& v);
  // Appends copies of a's elements in order; a += a doubles the array.
  qmgl_value_array& operator+=(qmgl_value_array const& a);
  // Removes every element e for which (e == v) is true, or, when v is a VALUE_ARRAY, for
  // which (e == f) is true for some element f of v. The others keep their order. Comparisons
  // never raise here.
  qmgl_value_array& operator-=(qmgl_value const& v);
  // Removes every element e for which (e == f) is true for some element f of a.
  qmgl_value_array& operator-=(qmgl_value_array const& a);

  // Some element e gives (v == e) true. False for an empty array, and when every comparison
  // is false or unknown (a NULL v is found nowhere).
  bool contains(qmgl_value v) const;

  // Same size, and no index i where (a[i] != b[i]) is true: an element that compares unknown
  // (a NULL one) matches any element at its index.
  bool operator==(qmgl_value_array const& a) const;
  // Lexicographic: the first index where (a[i] < b[i]) or (a[i] > b[i]) is true decides;
  // elements that compare equal or unknown are passed over; when one array runs out first,
  // the shorter is less. Elements of different types at one index (other than BOOL with
  // BOOL3) raise exc_invalid_operation_t.
  bool operator<(qmgl_value_array const& a) const;

 private:
  // The value reader collects the elements it reads and hands them over at once.
  friend class qmgl_value_array_builder;

  // Makes room for at least n values in all, moving the values into a larger block when
  // needed. Raises exc_not_enough_memory_t, leaving the array as it was.
  void reserve(unsigned long long n);
  // Removes the elements that compare true with one of the count candidates.
  void remove_matching(qmgl_value const* candidates, unsigned count);
  void swap(qmgl_value_array& other) noexcept;

  // Values in use.
  unsigned _size;
  // Values the block holds; those from _size on are NULL.
  unsigned _capacity;
  qmgl_local_array_of<qmgl_value> _items;
};

// Writes "(", each element by its stream_out with ", " between them, then ") ": the array of
// INT 1 and INT 2 is "(1  , 2  ) ", the empty array "() ". Failures of the stream pass out.
WYGL_API qmgl_output& operator<<(qmgl_output& out, qmgl_value_array const& a);

#endif  // WYGL_QMGL_VALUE_ARRAY_H
