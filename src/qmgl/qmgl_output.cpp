#include <wygl/qmgl_output.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "qmgl/qmgl_alloc.h"
#include "qmgl/qmgl_ntarray_build.h"

namespace {

constexpr char source_file[] = "src/qmgl/qmgl_output";

constexpr int first_capacity = 1024;
constexpr int capacity_step = 16384;

char* allocate_chars(std::size_t n, int line) {
  return qmgl_check_alloc(source_file, line, new (std::nothrow) char[n]);
}

// Exchanges the block (to, to_size) for (from, from_size) when from is the larger and no larger
// than most; whatever to held goes to from, whose owner frees it.
void move_larger_block(char*& from, std::size_t& from_size, char*& to, std::size_t& to_size,
                       std::size_t most = SIZE_MAX) {
  if (from_size <= to_size || from_size > most) return;
  std::swap(from, to);
  std::swap(from_size, to_size);
}

void write_text(qmgl_output& out, char const* text) {
  for (; *text != '\0'; ++text)
    out.put_char(*text);
}

// Digits of value, most significant first, then one space.
void write_decimal(qmgl_output& out, unsigned long value) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0)
    out.put_char(digits[--n]);
  out.put_char(' ');
}

// A minus sign for a negative value, then the magnitude, computed in unsigned arithmetic so
// that the most negative value has one too, then the extra space of the signed forms.
void write_signed(qmgl_output& out, long value) {
  unsigned long magnitude = static_cast<unsigned long>(value);
  if (value < 0) {
    out.put_char('-');
    magnitude = 0 - magnitude;
  }
  write_decimal(out, magnitude);
  out.put_char(' ');
}

}  // namespace

qmgl_output::~qmgl_output() noexcept(false) = default;

void qmgl_output_imp::put_char(char c) {
  really_put_char(c);
  if (_echo_target == nullptr) return;
  if (c == '\0') {
    _echo_target->put_char('\r');
    _echo_target->put_char('\n');
  } else {
    _echo_target->put_char(c);
  }
}

void qmgl_output_imp::put_chars(char c, unsigned int n) {
  if (_echo_target != nullptr) _echo_target->put_chars(c, n);
  for (unsigned int i = 0; i < n; ++i)
    really_put_char(c);
}

void qmgl_output_imp::flush() {}

void qmgl_output_imp::echo_to(qmgl_output& other) {
  _echo_target = &other;
}

// Extends the string in place while this stream's string holds its body alone, so that a long
// text costs linear time; a copy of the string taken by the caller keeps its text.
void qmgl_output_str::really_put_char(char c) {
  qmgl_ntarray_append(_target, c);
}

void qmgl_output_black_hole::really_put_char(char) {}

qmgl_output_buffer_mixin::qmgl_output_buffer_mixin()
    : _capacity(first_capacity),
      _buffer(allocate_chars(first_capacity, __LINE__)),
      _allocated(first_capacity) {}

qmgl_output_buffer_mixin::~qmgl_output_buffer_mixin() noexcept(false) {
  delete[] _buffer;
  delete[] _last_buffer;
}

qmgl_output_buffer_spare::~qmgl_output_buffer_spare() {
  delete[] _buffer;
  delete[] _last_buffer;
}

void qmgl_output_buffer_mixin::take_spare_memory(qmgl_output_buffer_spare& spare) noexcept {
  if (_length != 0 || _last_length != 0) return;  // too late: the buffers hold data
  move_larger_block(spare._buffer, spare._allocated, _buffer, _allocated);
  move_larger_block(spare._last_buffer, spare._last_allocated, _last_buffer, _last_allocated);
}

void qmgl_output_buffer_mixin::leave_spare_memory(qmgl_output_buffer_spare& spare) noexcept {
  // Growing to hold n pending characters allocates less than 2 * (n + capacity_step), however
  // large n is; memory beyond that was left by an earlier, longer message and goes.
  std::size_t const used = std::max({_most_flushed, static_cast<std::size_t>(_length),
                                     static_cast<std::size_t>(_last_length)});
  std::size_t const most = 2 * (used + capacity_step);
  _length = 0;
  _last_length = 0;
  move_larger_block(_buffer, _allocated, spare._buffer, spare._allocated, most);
  move_larger_block(_last_buffer, _last_allocated, spare._last_buffer, spare._last_allocated,
                    most);
}

namespace {

// The reported capacity of a buffer holding length pending characters: 1024, or the first
// 1024 + k * 16384 that holds them.
std::size_t capacity_for(std::size_t length) {
  if (length <= static_cast<std::size_t>(first_capacity)) return first_capacity;
  std::size_t const steps = (length - first_capacity + capacity_step - 1) / capacity_step;
  return first_capacity + steps * capacity_step;
}

}  // namespace

void qmgl_output_buffer_mixin::grow_and_put(char c) {
  *room_for(1) = c;
  added(1);
}

void qmgl_output_buffer_mixin::put_buffered_chars(char const* data, std::size_t length) {
  char* const to = room_for(length);
  if (length == 0) return;
  std::memcpy(to, data, length);
  added(length);
}

char* qmgl_output_buffer_mixin::room_for(std::size_t length) {
  // _capacity and _length are ints, and so is every capacity reported.
  if (length > static_cast<std::size_t>(INT_MAX - _length) ||
      capacity_for(static_cast<std::size_t>(_length) + length) > static_cast<std::size_t>(INT_MAX))
    throw exc_not_enough_memory_t(source_file, __LINE__, "not enough memory");
  // The memory holds the capacity that would be reported after all of them, so that it keeps
  // holding the reported capacity whatever part of the place is used.
  grow_memory(capacity_for(static_cast<std::size_t>(_length) + length));
  return _buffer + _length;
}

void qmgl_output_buffer_mixin::added(std::size_t length) noexcept {
  _length += static_cast<int>(length);
  _capacity = std::max(_capacity, static_cast<int>(capacity_for(static_cast<std::size_t>(_length))));
}

std::size_t qmgl_output_buffer_mixin::usable_memory() const noexcept {
  // The largest step of the reported capacity within the memory and within INT_MAX.
  constexpr std::size_t largest_step =
      first_capacity + (INT_MAX - first_capacity) / capacity_step * capacity_step;
  std::size_t const within = std::min(_allocated, largest_step);
  if (within < static_cast<std::size_t>(first_capacity)) return within;
  return first_capacity + (within - first_capacity) / capacity_step * capacity_step;
}

void qmgl_output_buffer_mixin::grow_memory(std::size_t size) {
  // The memory behind the reported capacity at least doubles, so that a long output is copied
  // a logarithmic number of times, not once per step of the capacity.
  if (size <= _allocated) return;
  std::size_t const grown = std::max({_allocated * 2, _allocated + capacity_step, size});
  char* bigger = allocate_chars(grown, __LINE__);
  std::memcpy(bigger, _buffer, static_cast<std::size_t>(_length));
  delete[] _buffer;
  _buffer = bigger;
  _allocated = grown;
}

void qmgl_output_buffer_mixin::flush_buffer() {
  if (_length <= 0) return;
  _most_flushed = std::max(_most_flushed, static_cast<std::size_t>(_length));
  // The pending block becomes the last block as it is, without a copy, and the last block's
  // memory takes its place once it has been delivered. That memory must hold the reported
  // capacity; it is made large enough first, so that nothing can fail after delivery.
  if (_last_allocated < _allocated) {
    char* larger = allocate_chars(_allocated, __LINE__);
    delete[] _last_buffer;
    _last_buffer = larger;
    _last_allocated = _allocated;
  }
  char* const next = _last_buffer;
  std::size_t const next_allocated = _last_allocated;
  _last_buffer = _buffer;
  _last_allocated = _allocated;
  _last_length = _length;
  try {
    really_flush_buffer(_buffer, _length);
  } catch (...) {
    // The block stays pending, and the last block is a copy of it.
    std::memcpy(next, _buffer, static_cast<std::size_t>(_length));
    _last_buffer = next;
    _last_allocated = next_allocated;
    throw;
  }
  _buffer = next;
  _allocated = next_allocated;
  _length = 0;
}

qmgl_output& operator<<(qmgl_output& out, char c) {
  out.put_char(c);
  return out;
}

qmgl_output& operator<<(qmgl_output& out, char const* text) {
  write_text(out, text);
  return out;
}

qmgl_output& operator<<(qmgl_output& out, qmgl_ntarray_of<char, 0> const& text) {
  write_text(out, text);
  return out;
}

qmgl_output& operator<<(qmgl_output& out, unsigned long value) {
  write_decimal(out, value);
  return out;
}

qmgl_output& operator<<(qmgl_output& out, long value) {
  write_signed(out, value);
  return out;
}

qmgl_output& operator<<(qmgl_output& out, int value) {
  write_signed(out, value);
  return out;
}

qmgl_output& operator<<(qmgl_output& out, unsigned int value) {
  write_decimal(out, value);
  out.put_char(' ');
  return out;
}

qmgl_output& operator<<(qmgl_output& out, qmgl_hex value) {
  static constexpr char digits[] = "0123456789abcdef";
  auto const v = static_cast<std::uint32_t>(value.value);
  out.put_char('0');
  out.put_char('x');
  for (int i = 0; i < 8; ++i)
    out.put_char(digits[(v >> (4 * (7 - i))) & 15]);
  out.put_char(' ');
  return out;
}

qmgl_output& operator<<(qmgl_output& out, qmgl_str_quoted const& quoted) {
  out.put_char(quoted._quote);
  for (char const* p = quoted._text; *p != '\0'; ++p) {
    out.put_char(*p);
    if (*p == quoted._quote) out.put_char(*p);
  }
  out.put_char(quoted._quote);
  out.put_char(' ');
  return out;
}

unsigned int qmgl_output_length(int value) {
  unsigned int length = 1;
  unsigned long magnitude = static_cast<unsigned long>(static_cast<long>(value));
  if (value < 0) {
    ++length;
    magnitude = 0 - magnitude;
  }
  while (magnitude > 9) {
    ++length;
    magnitude /= 10;
  }
  return length;
}
