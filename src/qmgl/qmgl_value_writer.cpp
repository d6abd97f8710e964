// The value text writer: stream_out and output_length of every body.
//
// Each text is written with the stream operators of qmgl_output.h, so every item carries the
// separator spaces those operators put after it.

#include <algorithm>

#include <wygl/qmgl_iconv.h>
#include <wygl/qmgl_output.h>

#include "qmgl/qmgl_value_body.h"

void value_null_t::stream_out(qmgl_output& out) const {
  out << "null ";
}
unsigned value_null_t::output_length() const {
  return 4;
}

// The text of the int -1, which reads back as INT -1, not as the marker.
void value_eoi_t::stream_out(qmgl_output& out) const {
  out << -1;
}
unsigned value_eoi_t::output_length() const {
  return 1;
}

void value_eol_t::stream_out(qmgl_output& out) const {
  out.put_char('\0');
}
unsigned value_eol_t::output_length() const {
  return 1;
}

void value_bool_t::stream_out(qmgl_output& out) const {
  out << (value ? "true " : "false ");
}
unsigned value_bool_t::output_length() const {
  return value ? 4 : 5;
}

void value_bool3_t::stream_out(qmgl_output& out) const {
  out << (value == qmgl_bool3_unknown ? "unknown " : value == qmgl_bool3_true ? "true " : "false ");
}
// Unknown counts 5, like false, not the 7 of its word.
unsigned value_bool3_t::output_length() const {
  return value == qmgl_bool3_true ? 4 : 5;
}

void value_int_t::stream_out(qmgl_output& out) const {
  out << value;
}
unsigned value_int_t::output_length() const {
  return qmgl_output_length(value);
}

void value_str_t::stream_out(qmgl_output& out) const {
  out << qmgl_str_quoted(value, '\'');
}
// The characters of the text: neither the quotes nor the doubling count.
unsigned value_str_t::output_length() const {
  return value.length();
}

// The whole text is converted before anything is written.
void value_uni_t::stream_out(qmgl_output& out) const {
  qmgl_ntarray_of<char, 0> const narrow = qmgl_uni_to_qmgl_str(value);
  out << qmgl_str_quoted(narrow, '"') << ' ';
}
// The converted text with its doubled double quotes, without the enclosing ones.
unsigned value_uni_t::output_length() const {
  qmgl_ntarray_of<char, 0> const narrow = qmgl_uni_to_qmgl_str(value);
  char const* const text = narrow;
  return narrow.length() + static_cast<unsigned>(std::count(text, text + narrow.length(), '"'));
}

// "#", two lower-case digits per byte, one space. The characters go to the stream as they are
// made: the stream takes text one character at a time in any case, so collecting them in a
// string first would only add a copy, and the text written is the same.
void value_bin_t::stream_out(qmgl_output& out) const {
  static constexpr char digits[] = "0123456789abcdef";
  unsigned char const* const bytes = value;
  out.put_char('#');
  for (unsigned i = 0; i < value.get_size(); ++i) {
    out.put_char(digits[bytes[i] >> 4]);
    out.put_char(digits[bytes[i] & 0x0F]);
  }
  out.put_char(' ');
}
unsigned value_bin_t::output_length() const {
  return 2 * value.get_size() + 1;
}

void value_array_t::stream_out(qmgl_output& out) const {
  out << value << ' ';
}
unsigned value_array_t::output_length() const {
  if (value.get_size() == 0) return 2;
  unsigned length = 0;
  for (unsigned i = 0; i < value.get_size(); ++i)
    length += value[i].output_length() + 2;
  return length;
}
