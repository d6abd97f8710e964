// qmgl_bool3.h - the three-valued boolean.
//
// qmgl_bool3 is a truth value with a third state, unknown, combined by Kleene's logic: false
// decides an && and true decides an ||, whatever the other side; otherwise unknown on either
// side makes the result unknown. Value comparisons return it, and a value can hold one.
//
// Example:
//
//   qmgl_bool3 seen(qmgl_bool3_unknown);
//   qmgl_bool3 const both = seen && qmgl_bool3(false);  // false: false decides an &&
//   if (both) { ... }                                   // taken only for true
//   bool const sure = (seen || qmgl_bool3(true)).as_bool();  // true
//
// Both operands of && and || are always evaluated: they are ordinary function arguments.
//
// A field holding a value other than the three enumerators (which the library never stores
// itself) reads as unknown everywhere: in &&, || and !, in as_bool and in operator void*. Only
// the equality operator tells it apart, because it compares the stored values exactly.
//
// Thread safety: a qmgl_bool3 is a plain 32-bit value; the operators touch nothing else.

#ifndef WYGL_QMGL_BOOL3_H
#define WYGL_QMGL_BOOL3_H

#include <cstdint>

#include <wygl/wygl_export.h>

// The three states, stored in 32 bits (unknown has every bit set).
enum qmgl_bool3_value : std::int32_t {
  qmgl_bool3_unknown = -1,
  qmgl_bool3_false = 0,
  qmgl_bool3_true = 1,
};

struct WYGL_API qmgl_bool3 {
  qmgl_bool3_value value;

  // False stores qmgl_bool3_false (0), true stores qmgl_bool3_true (1), nothing else.
  qmgl_bool3(bool b) noexcept : value(b ? qmgl_bool3_true : qmgl_bool3_false) {}
  // Stores v as given.
  qmgl_bool3(qmgl_bool3_value v) noexcept : value(v) {}
  qmgl_bool3(qmgl_bool3 const&) noexcept = default;

  qmgl_bool3& operator=(qmgl_bool3_value v) noexcept {
    value = v;
    return *this;
  }
  qmgl_bool3& operator=(qmgl_bool3 const&) noexcept = default;

  // False gives true, true gives false, unknown stays unknown.
  qmgl_bool3 operator!() const noexcept;

  // True only for qmgl_bool3_true; false and unknown give false.
  bool as_bool() const noexcept { return value == qmgl_bool3_true; }

  // The pointer value 1 for qmgl_bool3_true, null otherwise, so that a qmgl_bool3 can stand in
  // a condition and unknown counts as not taken there.
  operator void*() const noexcept {
    return as_bool() ? reinterpret_cast<void*>(std::uintptr_t{1}) : nullptr;
  }

  // The stored values are the same. Unlike the logic operators this is an exact test, so a
  // value outside the three enumerators equals none of them (and without it, comparing two
  // qmgl_bool3 would silently compare their void* conversions, where false equals unknown).
  bool operator==(qmgl_bool3 const& other) const noexcept { return value == other.value; }
};

// Kleene conjunction:          Kleene disjunction:
//   a \ b   unk  false true      a \ b   unk   false true
//   unk     unk  false unk       unk     unk   unk   true
//   false   false false false    false   unk   false true
//   true    unk  false true      true    true  true  true
WYGL_API qmgl_bool3 operator&&(qmgl_bool3 const& a, qmgl_bool3 const& b) noexcept;
WYGL_API qmgl_bool3 operator||(qmgl_bool3 const& a, qmgl_bool3 const& b) noexcept;

#endif  // WYGL_QMGL_BOOL3_H
