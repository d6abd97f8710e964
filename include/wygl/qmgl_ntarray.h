// qmgl_ntarray.h - reference-counted strings.
//
// qmgl_ntarray_of<T, 0> is a handle to a shared, immutable, NUL-terminated array of elements
// of type T. Two instantiations are exported: qmgl_ntarray_of<char, 0> for narrow text (bytes)
// and qmgl_ntarray_of<unsigned short, 0> for wide text (16-bit units, UTF-16; see
// qmgl_iconv.h for conversion between the two).
//
// Copying a handle copies one pointer and counts one more owner. No operation ever changes the
// elements of an existing array: whatever seems to change a string builds a new array and
// rebinds the handle to it, so a copy taken earlier keeps reading the old text:
//
//   qmgl_ntarray_of<char, 0> s("abc");
//   qmgl_ntarray_of<char, 0> t = s;   // shares s's array
//   s += 'd';                         // s reads "abcd", t still "abc"
//   char const* p = t;                // "abc", valid while some handle keeps that array
//   if (s.substring(1, 2) == "bc") {}
//
// The length of a text is the number of elements before its first 0. Some arrays hold more
// elements than that (s + '\0', and the two-part constructor given a 0 inside a part): the
// elements after the first 0 are kept, but the text, its length and every operation on it end
// at the first 0.
//
// Failures: building a new array raises exc_not_enough_memory_t ("not enough memory", file
// src/qmgl/qmgl_ntarray) when memory runs out or when the array would hold more than
// 0xFFFFFFFE elements; a failed assignment leaves the handle on its old text, and nothing is
// leaked. Positions beyond the end and null pointers given to compare are not detected beyond
// what each operation states.
//
// Thread safety: handles on different threads may share one array and be copied and destroyed
// concurrently (the count is changed atomically; arrays are never written after they are
// built). One handle object is not protected: two threads must not assign to the same handle,
// or assign it while another reads it, without a lock of their own.

#ifndef WYGL_QMGL_NTARRAY_H
#define WYGL_QMGL_NTARRAY_H

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include <wygl/qmgl_sync.h>
#include <wygl/wygl_export.h>

// A counting pointer to a body of type X. X has a public member `qmgl_sync_value count`, 0
// when the body is made. When the last pointer releases a body, the body is destroyed with
// X::destroy(X*) when X declares one, otherwise with delete.
//
// Thread safety: pointers on different threads may share one body; one pointer object is
// used by one thread at a time.
template <class X>
struct qmgl_refcounted_pointer_to {
  // A null pointer.
  qmgl_refcounted_pointer_to() noexcept : _pointer(nullptr) {}
  // Stores p and, if it is not null, counts one more owner of it.
  qmgl_refcounted_pointer_to(X* p) noexcept : _pointer(p) {  // NOLINT: implicit, as documented
    if (p != nullptr) p->count.increment();
  }
  // Shares the other's body (one more owner).
  qmgl_refcounted_pointer_to(qmgl_refcounted_pointer_to const& other) noexcept
      : qmgl_refcounted_pointer_to(other._pointer) {}
  // Releases the body: the pointer that brings its count to 0 destroys it.
  ~qmgl_refcounted_pointer_to() { release(_pointer); }

  // Counts one more owner of p (if not null), then releases the old body, then points at p.
  // Returns p. Assigning the pointer a body already holds is harmless.
  X* operator=(X* p) noexcept {
    if (p != nullptr) p->count.increment();
    X* const old = _pointer;
    _pointer = p;
    release(old);
    return p;
  }
  X* operator=(qmgl_refcounted_pointer_to const& other) noexcept { return *this = other._pointer; }

  operator X*() const noexcept { return _pointer; }  // NOLINT: implicit, as documented
  X* operator->() const noexcept { return _pointer; }

 private:
  static void release(X* p) noexcept {
    if (p == nullptr || p->count.decrement() != 0) return;
    if constexpr (requires { X::destroy(p); })
      X::destroy(p);
    else
      delete p;
  }

  X* _pointer;
};

// The shared body of a string: the count of handles, the length of the text and its elements.
// Made by create with count 0, bound by the handles that share it, destroyed by the last one.
template <class T, T Nul>
struct WYGL_API qmgl_ntarray_imp_of {
  // Number of handles bound to this body.
  qmgl_sync_value count;
  // Number of elements before the first Nul in data, fixed when the body is built.
  unsigned length;
  // Number of elements data has room for before its last Nul slot (n of create(n)).
  unsigned room;
  // The elements followed by at least one Nul; never null. Stored in the same block as the
  // body.
  T* data;

  // A new body with count 0, length 0 and room for n elements followed by one more: data[0]
  // to data[n] exist but are not set. The caller writes them, including a Nul at data[n] or
  // before, sets length to the number of elements before the first Nul, and binds the body to
  // a handle before anything else can raise. Raises exc_not_enough_memory_t when the block
  // cannot be allocated or n is above 0xFFFFFFFE.
  static qmgl_ntarray_imp_of* create(unsigned n);
  // Frees a body whose count has reached 0 (the block holding body and elements).
  static void destroy(qmgl_ntarray_imp_of* body) noexcept;

  qmgl_ntarray_imp_of(qmgl_ntarray_imp_of const&) = delete;
  qmgl_ntarray_imp_of& operator=(qmgl_ntarray_imp_of const&) = delete;

 private:
  qmgl_ntarray_imp_of() noexcept : count(), length(0), room(0), data(nullptr) {}
  ~qmgl_ntarray_imp_of() = default;
  // The size of the block holding a body with room for n elements.
  static std::size_t block_size(unsigned n) noexcept;
};

// A string: a handle bound to a shared body. Every constructor binds it to a body; the
// constructors that build text make a new body, the copy constructor shares the other's.
//
// Lengths of pointer arguments count elements up to the first Nul; a null pointer counts as
// the empty text.
template <class T, T Nul>
struct WYGL_API qmgl_ntarray_of {
  using imp_type = qmgl_ntarray_imp_of<T, Nul>;

  // The empty text: a one-element array holding Nul.
  qmgl_ntarray_of();
  // A copy of the text at p; null gives the empty text.
  qmgl_ntarray_of(T const* p);  // NOLINT: implicit, as documented
  // At most n elements of p, stopping early at a Nul (a null p gives the empty text).
  qmgl_ntarray_of(T const* p, unsigned n);
  // The text at a followed by the text at b (null counts as empty).
  qmgl_ntarray_of(T const* a, T const* b);
  // Exactly na elements of a, then exactly nb elements of b, then Nul: an array of na + nb + 1
  // elements, with no stop at a Nul inside either part, so the text's length is that of the
  // elements before the first Nul among them. A null part with a non-zero count contributes
  // that many Nul elements. Raises exc_not_enough_memory_t, before reading either part, when
  // na + nb exceeds 0xFFFFFFFE.
  qmgl_ntarray_of(T const* a, unsigned na, T const* b, unsigned nb);
  // Shares the other's body. Never raises.
  qmgl_ntarray_of(qmgl_ntarray_of const& other) noexcept = default;
  ~qmgl_ntarray_of() = default;

  // Shares the other's body (its count goes up before the old body's goes down, so s = s is
  // harmless). Never raises.
  qmgl_ntarray_of& operator=(qmgl_ntarray_of const& other) noexcept {
    _imp = other._imp;
    return *this;
  }
  // Builds a new body holding a copy of the text at p (null gives the empty text; p may point
  // into this string's own array) and rebinds to it. On failure the handle keeps its text.
  qmgl_ntarray_of& operator=(T const* p);

  // The elements, followed by Nul; valid while some handle keeps this body.
  operator T const*() const noexcept { return _imp->data; }  // NOLINT: implicit, as documented

  // The number of elements before the first Nul (kept in the body: constant time).
  unsigned length() const noexcept { return _imp->length; }
  // True when length() is 0.
  bool empty() const noexcept { return _imp->length == 0; }

  // At most n elements from position start, ending at the end of the text. start must not
  // exceed length(); a start beyond it gives the empty text.
  qmgl_ntarray_of substring(unsigned start, unsigned n) const;
  // This text followed by t's.
  qmgl_ntarray_of operator+(qmgl_ntarray_of const& t) const;
  // This text followed by the text at p (null counts as empty).
  qmgl_ntarray_of operator+(T const* p) const;
  // This text followed by exactly the element c, then Nul. Appending Nul itself gives an
  // array holding the text, Nul, Nul: the same text, of the same length.
  qmgl_ntarray_of operator+(T c) const;
  // This text without its last n elements: the first length() - n elements, counted in
  // unsigned arithmetic, of at most the whole text. n must not exceed length(); a negative n
  // gives the whole text.
  qmgl_ntarray_of operator-(int n) const;

  // Each builds the string the operator without '=' builds, rebinds this handle to it and
  // returns a separate handle on the new text (a copy, not a reference). On failure the handle
  // keeps its text.
  qmgl_ntarray_of operator+=(qmgl_ntarray_of const& t);
  qmgl_ntarray_of operator+=(T const* p);
  qmgl_ntarray_of operator+=(T c);
  qmgl_ntarray_of operator-=(int n);

  // Walks a and b while a's element is not Nul and equals b's; then 1 if a's current element
  // is greater than b's, 0 if equal, -1 if less. Narrow elements compare as signed 8-bit
  // values (bytes 0x80 to 0xFF sort before 0x00 to 0x7F), wide elements as unsigned 16-bit
  // values. Neither pointer may be null; both must point to Nul-terminated texts, which are
  // read at most to their first Nul.
  static int compare(T const* a, T const* b) noexcept;

  // compare(*this, p) against 0. p must not be null; it is read at most to its first Nul.
  bool operator==(T const* p) const noexcept { return equals_inline(p); }
  bool operator!=(T const* p) const noexcept { return !equals_inline(p); }
  bool operator<(T const* p) const noexcept { return compare_to(p) < 0; }
  bool operator<=(T const* p) const noexcept { return compare_to(p) < 1; }
  bool operator>(T const* p) const noexcept { return compare_to(p) > 0; }
  bool operator>=(T const* p) const noexcept { return compare_to(p) >= 0; }

  // The same comparisons with another string: the same results as with its data pointer,
  // found faster from the two lengths.
  bool operator==(qmgl_ntarray_of const& t) const noexcept;
  bool operator!=(qmgl_ntarray_of const& t) const noexcept { return !(*this == t); }
  bool operator<(qmgl_ntarray_of const& t) const noexcept { return compare_with(t) < 0; }
  bool operator<=(qmgl_ntarray_of const& t) const noexcept { return compare_with(t) < 1; }
  bool operator>(qmgl_ntarray_of const& t) const noexcept { return compare_with(t) > 0; }
  bool operator>=(qmgl_ntarray_of const& t) const noexcept { return compare_with(t) >= 0; }

  // Narrow text only. The distance from start (not from the beginning) of the first element
  // equal to c among the elements from position start to the end of the text, or -1 when
  // there is none. The terminating Nul is not among them: find('\0', start) is -1. start must
  // not exceed length(); a start beyond it gives -1.
  int find(char c, unsigned start) const noexcept requires std::is_same_v<T, char>;

  // The counting pointer to the body; never null.
  qmgl_refcounted_pointer_to<imp_type> _imp;

 protected:
  struct bind_tag {};
  // Binds to a body made with imp_type::create and filled by the caller. Never raises.
  qmgl_ntarray_of(imp_type* body, bind_tag) noexcept : _imp(body) {}

 private:
  // compare(*this, p), found from the stored length.
  int compare_to(T const* p) const noexcept;
  // compare(*this, p) == 0.
  bool equals(T const* p) const noexcept;
  int compare_to(qmgl_ntarray_of const& t) const noexcept;

  // The narrow forms of the comparisons above, inline: a call into the library costs as much
  // as comparing a short text.
  bool equals_inline(T const* p) const noexcept {
    if constexpr (std::is_same_v<T, char> && Nul == 0)
      return std::strcmp(_imp->data, p) == 0;  // this text holds no Nul before its end
    else
      return equals(p);
  }
  // compare_to(t); narrow texts whose common part is short are compared here, eight bytes a
  // step. Both texts end in Nul, so the first common + 1 bytes of each may be read.
  int compare_with(qmgl_ntarray_of const& t) const noexcept {
    if constexpr (std::is_same_v<T, char> && Nul == 0) {
      std::size_t const la = _imp->length;
      std::size_t const lb = t._imp->length;
      std::size_t const n = (la < lb ? la : lb) + 1;
      if (n <= 32) return compare_short(_imp->data, t._imp->data, n);
    }
    return compare_to(t);
  }
  static int compare_short(char const* a, char const* b, std::size_t n) noexcept {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      std::uint64_t u;
      std::uint64_t v;
      std::memcpy(&u, a + i, 8);
      std::memcpy(&v, b + i, 8);
      if (u != v) {
        // The differing byte that comes first in memory.
        std::uint64_t const d = u ^ v;
        i += static_cast<std::size_t>(std::endian::native == std::endian::little
                                          ? std::countr_zero(d)
                                          : std::countl_zero(d)) /
             8;
        return order_of_different(a[i], b[i]);
      }
    }
    for (; i < n; ++i)
      if (a[i] != b[i]) return order_of_different(a[i], b[i]);
    return 0;
  }
  // Narrow elements order as signed bytes.
  static int order_of_different(char x, char y) noexcept {
    return static_cast<signed char>(x) > static_cast<signed char>(y) ? 1 : -1;
  }
};

#endif  // WYGL_QMGL_NTARRAY_H
