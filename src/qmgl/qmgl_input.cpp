#include <wygl/qmgl_input.h>

#include <algorithm>
#include <cstring>

#include <wygl/qmgl_exc.h>

namespace {

constexpr char source_file[] = "src/qmgl/qmgl_input";

// Reads the next character of in into c and tells whether that read met the input's end: a
// NUL, or, for a source whose end character is not NUL (a file gives 0xFF), the read that set
// the end flag, or that character again once the flag is set. Any other character read while
// the flag is already set is data that arrived after the end.
bool read_meets_end(qmgl_input& in, char& c) {
  bool const ended_before = in.empty();
  c = in.get_char();
  return c == '\0' || (in.empty() && (!ended_before || c == '\xff'));
}

}  // namespace

qmgl_input::~qmgl_input() noexcept(false) = default;

char qmgl_input_imp::get_char() {
  if (_have_returned_char) {
    _have_returned_char = false;
    return _last_char;
  }
  _last_char = really_get_char();
  if (_last_char == '\0') _at_end = true;
  if (_echo_target != nullptr) {
    if (_last_char == '\0') {
      _echo_target->put_char('\r');
      _echo_target->put_char('\n');
    } else {
      _echo_target->put_char(_last_char);
    }
  }
  return _last_char;
}

void qmgl_input_imp::return_char() {
  if (_have_returned_char)
    throw exc_assertion_failed_t(source_file, __LINE__,
                                 "assertion failed: _have_returned_char == false");
  _have_returned_char = true;
}

bool qmgl_input_imp::throw_on_eoi(bool on) {
  bool const before = _throw_on_end;
  _throw_on_end = on;
  return before;
}

bool qmgl_input_imp::empty() const {
  return _at_end;
}

bool qmgl_input_imp::is_interactive() {
  return false;
}

void qmgl_input_imp::echo_to(qmgl_output& out) {
  _echo_target = &out;
}

void qmgl_input_imp::halt_echo() {
  _echo_target = nullptr;
}

char qmgl_input_imp::end_of_source(char end_char) {
  mark_at_end();
  if (_throw_on_end) throw exc_end_of_input_t(source_file, __LINE__, "exc_end_of_input");
  return end_char;
}

qmgl_input_buffer_mixin::qmgl_input_buffer_mixin() = default;

qmgl_input_buffer_mixin::~qmgl_input_buffer_mixin() = default;

void qmgl_input_buffer_mixin::add_data(std::string const& data) {
  add_data(data.data(), data.size());
}

void qmgl_input_buffer_mixin::add_data(char const* data, std::size_t length) {
  // Dropping the read bytes once they are the larger part keeps the buffer from growing
  // without bound while each byte is still moved at most a constant number of times.
  if (_read_offset > 0 && _read_offset >= _buffer.size() - _read_offset) compact();
  _buffer.append(data, length);
}

void qmgl_input_buffer_mixin::clear_data() {
  _buffer.clear();
  _read_offset = 0;
}

std::string const& qmgl_input_buffer_mixin::get_input_buffer() const {
  compact();
  _buffer_shown = true;
  return _buffer;
}

int qmgl_input_buffer_mixin::refill_and_get() {
  char c = '\0';
  return get_buffered_chars(&c, 1) == 1 ? static_cast<unsigned char>(c) : -1;
}

std::size_t qmgl_input_buffer_mixin::get_buffered_chars(char* into, std::size_t capacity) {
  if (capacity == 0) return 0;
  if (_read_offset == _buffer.size()) {
    clear_data();
    fill_buffer();
  }
  char const* const from = _buffer.data() + _read_offset;
  std::size_t count = std::min(capacity, _buffer.size() - _read_offset);
  if (void const* nul = std::memchr(from, '\0', count))
    count = static_cast<std::size_t>(static_cast<char const*>(nul) - from) + 1;
  std::memcpy(into, from, count);
  _read_offset += count;
  if (_buffer_shown) compact();
  return count;
}

void qmgl_input_buffer_mixin::compact() const {
  _buffer.erase(0, _read_offset);
  _read_offset = 0;
}

qmgl_input_str::qmgl_input_str(char const* text) : _position(text != nullptr ? text : "") {}

char qmgl_input_str::really_get_char() {
  if (*_position == '\0') return end_of_source();
  return *_position++;
}

qmgl_input_arguments::qmgl_input_arguments(char const* const* argv) : _argv(argv) {
  if (argv == nullptr)
    throw exc_assertion_failed_t(source_file, __LINE__, "assertion failed: _argv");
}

char qmgl_input_arguments::really_get_char() {
  if (*_argv == nullptr) return end_of_source();
  char const c = (*_argv)[_position];
  if (c != '\0') {
    ++_position;
    return c;
  }
  ++_argv;
  _position = 0;
  if (*_argv == nullptr) return end_of_source();
  return ' ';
}

qmgl_input_counter::qmgl_input_counter(qmgl_input& inner) : _inner(inner) {
  _inner.throw_on_eoi(false);
}

char qmgl_input_counter::really_get_char() {
  char c = '\0';
  bool const at_end = read_meets_end(_inner, c);
  if (c == '\n') {
    ++_line;
    _column = 1;
  } else if (c != '\r') {
    ++_column;
  }
  if (at_end) mark_at_end();
  return c;
}

qmgl_output& operator<<(qmgl_output& out, qmgl_input& in) {
  char c = '\0';
  while (!read_meets_end(in, c))
    out.put_char(c);
  return out;
}
