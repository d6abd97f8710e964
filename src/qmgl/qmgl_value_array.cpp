// Value arrays.
//
// The block of values is larger than the array when values have been appended: appends double
// it when it is full, so that n appends cost time linear in n, and growing moves the values
// (their body pointers) into the new block rather than copying them. The slots behind the
// values in use hold NULL. Every operation reads what it needs of its argument before it
// changes the array, since the argument may be the array itself or live inside it.

#include <wygl/qmgl_value_array.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <utility>

#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_output.h>

#include "qmgl/qmgl_value_array_builder.h"
#include "qmgl/qmgl_value_body.h"

namespace {

constexpr char source_file[] = "src/qmgl/qmgl_value_array";

// The most values a block can hold: its length is an unsigned.
constexpr std::uint64_t most_values = 0xFFFFFFFFu;
constexpr std::uint64_t first_capacity = 4;

// (e == f) is true for one of the candidates.
bool matches_any(qmgl_value const& e, qmgl_value const* candidates, unsigned count) {
  for (unsigned j = 0; j < count; ++j)
    if ((e == candidates[j]).as_bool()) return true;
  return false;
}

}  // namespace

qmgl_value_array::qmgl_value_array() noexcept : _size(0), _capacity(0) {}

qmgl_value_array::qmgl_value_array(qmgl_value_array const& a) : _size(0), _capacity(0) {
  if (a._size == 0) return;
  _items.resize(a._size);
  _capacity = a._size;
  for (unsigned i = 0; i < a._size; ++i)
    _items[i] = a._items[i];
  _size = a._size;
}

qmgl_value_array::~qmgl_value_array() = default;

qmgl_value_array& qmgl_value_array::operator=(qmgl_value_array const& a) {
  if (&a != this) {
    qmgl_value_array copy(a);
    swap(copy);
  }
  return *this;
}

qmgl_value& qmgl_value_array::operator[](unsigned i) {
  if (i >= _size) throw exc_domain_overflow_t(source_file, __LINE__, "exc_domain_overflow");
  return _items[i];
}

qmgl_value const& qmgl_value_array::operator[](unsigned i) const {
  if (i >= _size) throw exc_domain_overflow_t(source_file, __LINE__, "exc_domain_overflow");
  return _items[i];
}

qmgl_value_array& qmgl_value_array::operator+=(qmgl_value const& v) {
  if (v.is_value_array()) return *this += v.as_value_array();
  qmgl_value copy(v);  // before the block moves: v may be one of this array's values
  reserve(std::uint64_t{_size} + 1);
  _items[_size].swap(copy);
  ++_size;
  return *this;
}

qmgl_value_array& qmgl_value_array::operator+=(qmgl_value_array const& a) {
  // When a is this array, its values are the first `count` ones wherever the block is; the
  // copies go behind them.
  unsigned const count = a._size;
  unsigned const first = _size;
  reserve(std::uint64_t{first} + count);
  try {
    for (unsigned j = 0; j < count; ++j)
      _items[first + j] = a._items[j];
  } catch (...) {
    for (unsigned j = 0; j < count; ++j)
      _items[first + j] = qmgl_value();
    throw;
  }
  _size = first + count;
  return *this;
}

qmgl_value_array& qmgl_value_array::operator-=(qmgl_value const& v) {
  if (v.is_value_array()) return *this -= v.as_value_array();
  remove_matching(&v, 1);
  return *this;
}

qmgl_value_array& qmgl_value_array::operator-=(qmgl_value_array const& a) {
  remove_matching(a._items, a._size);
  return *this;
}

bool qmgl_value_array::contains(qmgl_value v) const {
  for (unsigned i = 0; i < _size; ++i)
    if ((v == _items[i]).as_bool()) return true;
  return false;
}

bool qmgl_value_array::operator==(qmgl_value_array const& a) const {
  if (_size != a._size) return false;
  for (unsigned i = 0; i < _size; ++i)
    if ((_items[i] != a._items[i]).as_bool()) return false;
  return true;
}

bool qmgl_value_array::operator<(qmgl_value_array const& a) const {
  for (unsigned i = 0;; ++i) {
    if (i == _size) return _size < a._size;
    if (i == a._size) return false;
    if ((_items[i] < a._items[i]).as_bool()) return true;
    if ((_items[i] > a._items[i]).as_bool()) return false;
  }
}

void qmgl_value_array::reserve(unsigned long long n) {
  if (n <= _capacity) return;
  if (n > most_values) throw exc_not_enough_memory_t(source_file, __LINE__, "not enough memory");
  std::uint64_t const grown = std::min(
      most_values, std::max({std::uint64_t{n}, std::uint64_t{_capacity} * 2, first_capacity}));
  qmgl_local_array_of<qmgl_value> bigger(static_cast<unsigned>(grown));
  for (unsigned i = 0; i < _size; ++i)
    bigger[i].swap(_items[i]);
  std::swap(bigger._array, _items._array);
  _capacity = static_cast<unsigned>(grown);
}

void qmgl_value_array::remove_matching(qmgl_value const* candidates, unsigned count) {
  if (_size == 0 || count == 0) return;
  // Every element is judged before any moves, since the candidates may be this array's own
  // values.
  qmgl_local_array_of<unsigned char> removed(_size);
  unsigned kept = 0;
  for (unsigned i = 0; i < _size; ++i) {
    removed[i] = matches_any(_items[i], candidates, count) ? 1 : 0;
    if (removed[i] == 0) ++kept;
  }
  if (kept == _size) return;
  for (unsigned i = 0, k = 0; i < _size; ++i) {
    if (removed[i] != 0) continue;
    if (k != i) _items[k].swap(_items[i]);
    ++k;
  }
  for (unsigned i = kept; i < _size; ++i)
    _items[i] = qmgl_value();
  _size = kept;
}

void qmgl_value_array::swap(qmgl_value_array& other) noexcept {
  std::swap(_size, other._size);
  std::swap(_capacity, other._capacity);
  std::swap(_items._array, other._items._array);
}

qmgl_output& operator<<(qmgl_output& out, qmgl_value_array const& a) {
  qmgl_write_value_array(out, a);
  return out;
}

// Exported through the extern template declaration of the header, which gives it WYGL_API.
template struct qmgl_local_array_of<qmgl_value>;

// ---- collecting elements for the value reader ----

qmgl_value_array_builder::~qmgl_value_array_builder() {
  for (qmgl_value_base* body : _bodies)
    body->release();
}

void qmgl_value_array_builder::add(qmgl_value_base* body) {
  try {
    _bodies.push_back(body);
  } catch (std::bad_alloc const&) {
    body->release();
    throw exc_not_enough_memory_t(source_file, __LINE__, "not enough memory");
  }
}

void qmgl_value_array_builder::append_to(qmgl_value_array& a) {
  if (_bodies.empty()) return;
  a.reserve(std::uint64_t{a._size} + _bodies.size());
  // The slots behind the values in use hold NULL, whose body needs no release.
  for (qmgl_value_base* body : _bodies)
    a._items[a._size++]._body = body;
  _bodies.clear();
}
