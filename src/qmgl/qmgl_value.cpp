// The value handle: construction, assignment, and assignment from a variable argument list.
//
// Every assignment builds the new content in a separate handle first and then exchanges
// bodies, so that a failure leaves the value as it was and an argument that lives inside the
// value's own body is read before that body goes.

#include <wygl/qmgl_value.h>

#include <wygl/qmgl_exc.h>

#include "qmgl/qmgl_value_body.h"
#include "qmgl/qmgl_value_internal.h"

namespace {

constexpr char bool_check[] = "assertion failed: b == false || b == true";
constexpr char bool3_check[] =
    "assertion failed: b == qmgl_bool3(qmgl_bool3_false) || b == qmgl_bool3(qmgl_bool3_true) || "
    "b == qmgl_bool3(qmgl_bool3_unknown)";
constexpr char assigned_bool_check[] = "assertion failed: value == false || value == true";
constexpr char assigned_bool3_check[] =
    "assertion failed: value == qmgl_bool3(qmgl_bool3_false) || "
    "value == qmgl_bool3(qmgl_bool3_true) || value == qmgl_bool3(qmgl_bool3_unknown)";

[[noreturn]] void assertion_failed(char const* text) {
  throw exc_assertion_failed_t(qmgl_value_source_file, __LINE__, text);
}

// The shared body for b. A bool is checked through the byte it is stored in, never read as a
// bool: the compiler takes any bool to be 0 or 1, so a bool made from another byte could not
// be told apart otherwise.
qmgl_value_base* bool_body_of(bool const& b) {
  unsigned char const stored = *reinterpret_cast<unsigned char const volatile*>(&b);
  if (stored > 1) assertion_failed(bool_check);
  return qmgl_value_bool_body(stored != 0);
}

bool holds_a_state(qmgl_bool3 b) {
  return b == qmgl_bool3(qmgl_bool3_false) || b == qmgl_bool3(qmgl_bool3_true) ||
         b == qmgl_bool3(qmgl_bool3_unknown);
}

qmgl_bool3 checked_bool3(qmgl_bool3 b) {
  if (!holds_a_state(b)) assertion_failed(bool3_check);
  return b;
}

// A qmgl_bool3 as it travels through a variable argument list: the same layout, and trivial,
// which va_arg requires of the type it reads (qmgl_bool3 has no default constructor).
struct passed_bool3 {
  qmgl_bool3_value value;
};
static_assert(sizeof(passed_bool3) == sizeof(qmgl_bool3));

template <class T>
qmgl_value& replace(qmgl_value& self, T const& content) {
  qmgl_value fresh(content);
  self.swap(fresh);
  return self;
}

// The array of the wide strings listed from list on.
qmgl_value wide_string_list(unsigned short const* list) {
  qmgl_value result{qmgl_value_array()};
  if (list == nullptr) return result;
  while (*list != 0) {
    qmgl_ntarray_of<unsigned short, 0> const text(list);
    result._body->append_value(qmgl_value(text));
    list += text.length() + 1;
  }
  return result;
}

}  // namespace

qmgl_value::qmgl_value() noexcept : _body(qmgl_value_null_body()) {}

qmgl_value::qmgl_value(qmgl_value const& v) : _body(v._body->clone()) {}

qmgl_value::qmgl_value(qmgl_value&& v) noexcept : _body(v._body) {
  v._body = qmgl_value_null_body();
}

qmgl_value::qmgl_value(bool b) : _body(bool_body_of(b)) {}

qmgl_value::qmgl_value(qmgl_bool3 b) : _body(qmgl_value_bool3_body(checked_bool3(b))) {}

qmgl_value::qmgl_value(qmgl_bool3_value b) : qmgl_value(qmgl_bool3(b)) {}

qmgl_value::qmgl_value(int n) : _body(qmgl_value_new_body<value_int_t>(n)) {}

qmgl_value::qmgl_value(char const* s) : qmgl_value(qmgl_ntarray_of<char, 0>(s)) {}

qmgl_value::qmgl_value(unsigned short const* s)
    : qmgl_value(qmgl_ntarray_of<unsigned short, 0>(s)) {}

qmgl_value::qmgl_value(qmgl_ntarray_of<char, 0> const& s)
    : _body(qmgl_value_new_body<value_str_t>(s)) {}

qmgl_value::qmgl_value(qmgl_ntarray_of<unsigned short, 0> const& s)
    : _body(qmgl_value_new_body<value_uni_t>(s)) {}

qmgl_value::qmgl_value(qmgl_refcounted_vector_of<unsigned char> const& v)
    : _body(qmgl_value_new_body<value_bin_t>(v)) {}

qmgl_value::qmgl_value(qmgl_value_array const& a) : _body(qmgl_value_new_body<value_array_t>(a)) {}

qmgl_value::qmgl_value(unsigned short const** p)
    : qmgl_value(wide_string_list(p != nullptr ? *p : nullptr)) {}

qmgl_value::~qmgl_value() {
  _body->release();
}

qmgl_value& qmgl_value::operator=(qmgl_value const& v) {
  if (&v != this) replace(*this, v);
  return *this;
}

qmgl_value& qmgl_value::operator=(qmgl_value&& v) noexcept {
  if (&v != this) {
    qmgl_value_base* const old = _body;
    _body = v._body;
    v._body = qmgl_value_null_body();
    old->release();
  }
  return *this;
}

// A shared body: nothing to allocate, and b is passed on by address only (see bool_body_of).
qmgl_value& qmgl_value::operator=(bool b) {
  qmgl_value fresh;
  fresh._body = bool_body_of(b);
  swap(fresh);
  return *this;
}
qmgl_value& qmgl_value::operator=(qmgl_bool3 b) {
  return replace(*this, b);
}
qmgl_value& qmgl_value::operator=(qmgl_bool3_value b) {
  return replace(*this, b);
}
qmgl_value& qmgl_value::operator=(int n) {
  return replace(*this, n);
}
qmgl_value& qmgl_value::operator=(char const* s) {
  return replace(*this, s);
}
qmgl_value& qmgl_value::operator=(unsigned short const* s) {
  return replace(*this, s);
}
qmgl_value& qmgl_value::operator=(qmgl_ntarray_of<char, 0> const& s) {
  return replace(*this, s);
}
qmgl_value& qmgl_value::operator=(qmgl_ntarray_of<unsigned short, 0> const& s) {
  return replace(*this, s);
}
qmgl_value& qmgl_value::operator=(qmgl_refcounted_vector_of<unsigned char> const& v) {
  return replace(*this, v);
}
qmgl_value& qmgl_value::operator=(qmgl_value_array const& a) {
  return replace(*this, a);
}

qmgl_value& qmgl_value::assign(va_list& args) {
  switch (_body->type_code()) {
    case value_type_null:
      throw exc_invalid_operation_t(qmgl_value_source_file, __LINE__, "exc_invalid_operation");
    case value_type_bool: {
      // Only the low byte of the int counts, as for a bool passed through the list.
      auto const value = static_cast<unsigned char>(va_arg(args, int));
      if (value > 1) assertion_failed(assigned_bool_check);
      return *this = value != 0;
    }
    case value_type_bool3: {
      qmgl_bool3 const value = va_arg(args, passed_bool3).value;
      if (!holds_a_state(value)) assertion_failed(assigned_bool3_check);
      return *this = value;
    }
    case value_type_int:
      return *this = va_arg(args, int);
    case value_type_str:
      return *this = va_arg(args, char const*);
    case value_type_uni:
      return *this = va_arg(args, unsigned short const*);
    case value_type_bin: {
      auto const* const bytes = va_arg(args, unsigned char const*);
      unsigned const count = va_arg(args, unsigned int);
      return *this = qmgl_refcounted_vector_of<unsigned char>(bytes, count);
    }
    default:  // EOI, EOL and VALUE_ARRAY
      throw exc_invariant_failed_t(qmgl_value_source_file, __LINE__, "exc_invariant_failed");
  }
}

qmgl_value qmgl_value_eoi() noexcept {
  qmgl_value marker;
  marker._body = qmgl_value_eoi_body();
  return marker;
}

qmgl_value qmgl_value_eol() noexcept {
  qmgl_value marker;
  marker._body = qmgl_value_eol_body();
  return marker;
}
