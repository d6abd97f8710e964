// The body classes of qmgl_value, one per type.
//
// Shared bodies (NULL, EOI, EOL, BOOL, BOOL3) derive from qmgl_value_static: a fixed set of
// objects made by constant initialisation, before any code of the process runs, and never
// destroyed, so that values held in the host's static objects stay valid however the
// destructors at exit are ordered. Owned bodies (INT, STR, UNI, BIN, VALUE_ARRAY) derive from
// value_owned, which holds the payload and writes clone, release and the same-type
// comparisons once for all of them. value_typed answers type_code and every type test that
// follows from the type code alone.

#ifndef WYGL_SRC_QMGL_QMGL_VALUE_BODY_H
#define WYGL_SRC_QMGL_QMGL_VALUE_BODY_H

#include <cstddef>
#include <new>
#include <utility>

#include <wygl/qmgl_bool3.h>
#include <wygl/qmgl_ntarray.h>
#include <wygl/qmgl_refcounted_vector.h>
#include <wygl/qmgl_small_blocks.h>
#include <wygl/qmgl_value.h>
#include <wygl/qmgl_value_array.h>

#include "qmgl/qmgl_alloc.h"

inline constexpr char qmgl_value_source_file[] = "src/qmgl/qmgl_value";

enum qmgl_value_type : unsigned {
  value_type_null = 0,
  value_type_eoi = 1,
  value_type_eol = 2,
  value_type_bool = 3,
  value_type_bool3 = 4,
  value_type_int = 5,
  value_type_str = 6,
  value_type_uni = 7,
  value_type_bin = 8,
  value_type_value_array = 9,
};

// "NULL", "EOI", ..., "VALUE_ARRAY" for the codes 0 to 9.
char const* qmgl_value_type_name(unsigned code) noexcept;

// A new owned body, or exc_not_enough_memory_t.
template <class Body, class... Args>
Body* qmgl_value_new_body(Args&&... args) {
  return qmgl_check_alloc(qmgl_value_source_file, __LINE__,
                          new (std::nothrow) Body(std::forward<Args>(args)...));
}

// ---- shared bodies ----

struct qmgl_value_static : qmgl_value_base {
  qmgl_value_base* clone() const override;
  void release() override;

  // delete on a shared body raises exc_should_not_execute_t before anything is destroyed:
  // this destroying form of operator delete replaces both the destructor call and the freeing.
  void operator delete(qmgl_value_static* body, std::destroying_delete_t) noexcept(false);

 protected:
  constexpr qmgl_value_static() noexcept = default;
};

// type_code and the type tests that the code decides.
template <unsigned Code, class Parent>
struct value_typed : Parent {
  unsigned type_code() const override { return Code; }
  bool is_null() const override { return Code <= value_type_eol; }
  bool is_eoi() const override { return Code == value_type_eoi; }
  bool is_eol() const override { return Code == value_type_eol; }
  bool is_bool() const override { return Code == value_type_bool; }
  bool is_bool3() const override { return Code == value_type_bool || Code == value_type_bool3; }
  bool is_int() const override { return Code == value_type_int; }
  bool is_charp() const override { return Code == value_type_str; }
  bool is_unicharp() const override { return Code == value_type_uni; }
  bool is_binaryp() const override { return Code == value_type_bin; }
  bool is_str() const override { return Code == value_type_str; }
  bool is_uni() const override { return Code == value_type_uni; }
  bool is_bin() const override { return Code == value_type_bin; }
  bool is_value_array() const override { return Code == value_type_value_array; }

 protected:
  constexpr value_typed() noexcept = default;
};

// NULL, EOI and EOL: no payload, and never compared by content.
template <unsigned Code>
struct value_marker : value_typed<Code, qmgl_value_static> {
  bool is_equal(qmgl_value_base const& other) const override;
  bool is_less(qmgl_value_base const& other) const override;

 protected:
  constexpr value_marker() noexcept = default;
};

struct value_null_t final : value_marker<value_type_null> {
  constexpr value_null_t() noexcept = default;
  void stream_out(qmgl_output& out) const override;
  unsigned output_length() const override;
};

struct value_eoi_t final : value_marker<value_type_eoi> {
  constexpr value_eoi_t() noexcept = default;
  void stream_out(qmgl_output& out) const override;
  unsigned output_length() const override;
};

struct value_eol_t final : value_marker<value_type_eol> {
  constexpr value_eol_t() noexcept = default;
  void stream_out(qmgl_output& out) const override;
  unsigned output_length() const override;
};

struct value_bool_t final : value_typed<value_type_bool, qmgl_value_static> {
  bool value;

  constexpr explicit value_bool_t(bool b) noexcept : value(b) {}
  bool is_equal(qmgl_value_base const& other) const override;
  bool is_less(qmgl_value_base const& other) const override;
  bool as_bool() const override;
  qmgl_bool3 as_bool3() const override;
  void stream_out(qmgl_output& out) const override;
  unsigned output_length() const override;
};

struct value_bool3_t final : value_typed<value_type_bool3, qmgl_value_static> {
  // The state of the qmgl_bool3 held, kept as the enumerator so that the body can be made by
  // constant initialisation.
  qmgl_bool3_value value;

  constexpr explicit value_bool3_t(qmgl_bool3_value b) noexcept : value(b) {}
  bool is_equal(qmgl_value_base const& other) const override;
  bool is_less(qmgl_value_base const& other) const override;
  bool as_bool() const override;
  qmgl_bool3 as_bool3() const override;
  void stream_out(qmgl_output& out) const override;
  unsigned output_length() const override;
};

// The one body of each shared kind. b must be false or true; b3 one of the three states.
qmgl_value_base* qmgl_value_null_body() noexcept;
qmgl_value_base* qmgl_value_eoi_body() noexcept;
qmgl_value_base* qmgl_value_eol_body() noexcept;
qmgl_value_base* qmgl_value_bool_body(bool b) noexcept;
qmgl_value_base* qmgl_value_bool3_body(qmgl_bool3 b3) noexcept;

// ---- owned bodies ----

// Payload comparisons: the operators of the payload type, and bytewise unsigned order for
// byte vectors (the shorter of two where one begins the other is less).
template <class Payload>
bool qmgl_value_payload_equal(Payload const& a, Payload const& b) {
  return a == b;
}
template <class Payload>
bool qmgl_value_payload_less(Payload const& a, Payload const& b) {
  return a < b;
}
bool qmgl_value_payload_equal(qmgl_refcounted_vector_of<unsigned char> const& a,
                              qmgl_refcounted_vector_of<unsigned char> const& b) noexcept;
bool qmgl_value_payload_less(qmgl_refcounted_vector_of<unsigned char> const& a,
                             qmgl_refcounted_vector_of<unsigned char> const& b) noexcept;

template <class Self, unsigned Code, class Payload>
struct value_owned : value_typed<Code, qmgl_value_base> {
  Payload value;

  explicit value_owned(Payload const& payload) : value(payload) {}

  // Owned bodies are made and freed by the hundred thousand when texts are read: they come
  // from the thread's small blocks. Only the form of new that qmgl_value_new_body uses exists.
  static void* operator new(std::size_t size, std::nothrow_t const&) noexcept {
    return qmgl_small_block_allocate(size);
  }
  static void operator delete(void* body, std::nothrow_t const&) noexcept {
    qmgl_small_block_free(body, sizeof(Self));
  }
  static void operator delete(void* body, std::size_t size) noexcept {
    qmgl_small_block_free(body, size);
  }

  qmgl_value_base* clone() const override { return qmgl_value_new_body<Self>(value); }
  // Both compare only with a body of the same type code, that is of class Self.
  bool is_equal(qmgl_value_base const& other) const override {
    return qmgl_value_payload_equal(value, static_cast<Self const&>(other).value);
  }
  bool is_less(qmgl_value_base const& other) const override {
    return qmgl_value_payload_less(value, static_cast<Self const&>(other).value);
  }
};

struct value_int_t final : value_owned<value_int_t, value_type_int, int> {
  using value_owned::value_owned;
  int as_int() const override;
  void stream_out(qmgl_output& out) const override;
  unsigned output_length() const override;
};

struct value_str_t final : value_owned<value_str_t, value_type_str, qmgl_ntarray_of<char, 0>> {
  using value_owned::value_owned;
  char const* as_charp() const override;
  qmgl_ntarray_of<char, 0> const& as_str() const override;
  void stream_out(qmgl_output& out) const override;
  unsigned output_length() const override;
};

struct value_uni_t final
    : value_owned<value_uni_t, value_type_uni, qmgl_ntarray_of<unsigned short, 0>> {
  using value_owned::value_owned;
  bool is_uni_ex() const override;
  unsigned short const* as_unicharp() const override;
  qmgl_ntarray_of<unsigned short, 0> const& as_uni() const override;
  void stream_out(qmgl_output& out) const override;
  unsigned output_length() const override;
};

struct value_bin_t final
    : value_owned<value_bin_t, value_type_bin, qmgl_refcounted_vector_of<unsigned char>> {
  using value_owned::value_owned;
  unsigned char const* as_binaryp() const override;
  qmgl_refcounted_vector_of<unsigned char> const& as_bin() const override;
  void stream_out(qmgl_output& out) const override;
  unsigned output_length() const override;
};

struct value_array_t final : value_owned<value_array_t, value_type_value_array, qmgl_value_array> {
  using value_owned::value_owned;
  qmgl_value_base& append_array(qmgl_value_array const& a) override;
  qmgl_value_base& append_value(qmgl_value const& v) override;
  qmgl_value_base& remove_array(qmgl_value_array const& a) override;
  qmgl_value_base& remove_value(qmgl_value const& v) override;
  qmgl_refcounted_vector_of<unsigned char> as_bytes() const override;
  qmgl_value_array const& as_value_array() const override;
  void stream_out(qmgl_output& out) const override;
  unsigned output_length() const override;
};

// Writes the text of an array: "(", its elements' texts separated by ", ", then ") " (the
// writer of qmgl_value_writer.cpp, which writes the elements of the library's body classes
// itself).
void qmgl_write_value_array(qmgl_output& out, qmgl_value_array const& a);

#endif  // WYGL_SRC_QMGL_QMGL_VALUE_BODY_H
