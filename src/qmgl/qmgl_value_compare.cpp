// Comparison of values under three-valued logic, the same-type comparisons of the bodies, and
// += and -= on values.

#include <wygl/qmgl_value.h>

#include <algorithm>
#include <cstring>

#include <wygl/qmgl_exc.h>

#include "qmgl/qmgl_value_body.h"

namespace {

[[noreturn]] void should_not_execute(int line) {
  throw exc_should_not_execute_t(qmgl_value_source_file, line, "exc_should_not_execute");
}

// The order of the three states is that of their codes: unknown (-1) < false (0) < true (1).
int bool3_order(qmgl_bool3 b) noexcept {
  return static_cast<int>(b.value);
}
int bool3_order(qmgl_bool3_value b) noexcept {
  return static_cast<int>(b);
}

// Appends to self through its array body; a value that is no array yet becomes one holding its
// old value first. That array is built apart, so that a failure leaves self unchanged and the
// argument may be self itself.
template <class Append>
qmgl_value& append_to(qmgl_value& self, Append append) {
  if (self.is_value_array()) {
    append(*self._body);
    return self;
  }
  qmgl_value grown{qmgl_value_array()};
  grown._body->append_value(self);
  append(*grown._body);
  self.swap(grown);
  return self;
}

}  // namespace

// ---- the handle ----

qmgl_bool3 qmgl_value::operator==(qmgl_value const& b) const {
  if (is_null() || b.is_null()) return qmgl_bool3_unknown;
  if (is_same_type(b)) return _body->is_equal(*b._body);
  if (is_bool3() && b.is_bool3()) return as_bool3() == b.as_bool3();
  return false;
}

qmgl_bool3 qmgl_value::operator!=(qmgl_value const& b) const {
  return !(*this == b);
}

qmgl_bool3 qmgl_value::operator<(qmgl_value const& b) const {
  if (is_null() || b.is_null()) return qmgl_bool3_unknown;
  if (is_same_type(b)) return _body->is_less(*b._body);
  if (is_bool3() && b.is_bool3()) return bool3_order(as_bool3()) < bool3_order(b.as_bool3());
  throw exc_invalid_operation_t(qmgl_value_source_file, __LINE__, "exc_invalid_operation");
}

qmgl_bool3 qmgl_value::operator>(qmgl_value const& b) const {
  return b < *this;
}

qmgl_bool3 qmgl_value::operator<=(qmgl_value const& b) const {
  return !(b < *this);
}

qmgl_bool3 qmgl_value::operator>=(qmgl_value const& b) const {
  return !(*this < b);
}

qmgl_value& qmgl_value::operator+=(qmgl_value const& v) {
  return append_to(*this, [&v](qmgl_value_base& array) { array.append_value(v); });
}

qmgl_value& qmgl_value::operator+=(qmgl_value_array const& arr) {
  return append_to(*this, [&arr](qmgl_value_base& array) { array.append_array(arr); });
}

// Only an array body removes; every other body raises exc_should_not_execute_t untouched.
qmgl_value& qmgl_value::operator-=(qmgl_value const& v) {
  _body->remove_value(v);
  return *this;
}

qmgl_value& qmgl_value::operator-=(qmgl_value_array const& arr) {
  _body->remove_array(arr);
  return *this;
}

// ---- same-type comparisons of the bodies ----

template <unsigned Code>
bool value_marker<Code>::is_equal(qmgl_value_base const&) const {
  should_not_execute(__LINE__);
}

template <unsigned Code>
bool value_marker<Code>::is_less(qmgl_value_base const&) const {
  should_not_execute(__LINE__);
}

template struct value_marker<value_type_null>;
template struct value_marker<value_type_eoi>;
template struct value_marker<value_type_eol>;

bool value_bool_t::is_equal(qmgl_value_base const& other) const {
  return value == static_cast<value_bool_t const&>(other).value;
}

bool value_bool_t::is_less(qmgl_value_base const& other) const {
  return !value && static_cast<value_bool_t const&>(other).value;
}

bool value_bool3_t::is_equal(qmgl_value_base const& other) const {
  return value == static_cast<value_bool3_t const&>(other).value;
}

bool value_bool3_t::is_less(qmgl_value_base const& other) const {
  return bool3_order(value) < bool3_order(static_cast<value_bool3_t const&>(other).value);
}

bool qmgl_value_payload_equal(qmgl_refcounted_vector_of<unsigned char> const& a,
                              qmgl_refcounted_vector_of<unsigned char> const& b) noexcept {
  unsigned const n = a.get_size();
  return n == b.get_size() && (n == 0 || std::memcmp(a, b, n) == 0);
}

bool qmgl_value_payload_less(qmgl_refcounted_vector_of<unsigned char> const& a,
                             qmgl_refcounted_vector_of<unsigned char> const& b) noexcept {
  unsigned const common = std::min(a.get_size(), b.get_size());
  int const order = common == 0 ? 0 : std::memcmp(a, b, common);
  return order != 0 ? order < 0 : a.get_size() < b.get_size();
}
