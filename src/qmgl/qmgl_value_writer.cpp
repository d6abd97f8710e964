// The value text writer: stream_out and output_length of every body.
//
// Every text is the one the stream operators of qmgl_output.h give, separator spaces
// included, but it is handed to the stream through qmgl_output_direct: a whole token, number
// or quoted text at a time where the stream takes runs in its own memory, one put_char per
// character everywhere else. The characters reach the stream in the same order either way.
// The elements of an array are written by the same writer, which knows the library's body
// classes; a body of any other class writes itself through its own stream_out.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

#include <wygl/qmgl_iconv.h>
#include <wygl/qmgl_output.h>

#include "qmgl/qmgl_byte_scan.h"
#include "qmgl/qmgl_exact_class.h"
#include "qmgl/qmgl_iconv_runs.h"
#include "qmgl/qmgl_output_direct.h"
#include "qmgl/qmgl_value_body.h"

namespace {

// The two lower-case hexadecimal digits of every byte.
struct hex_pairs {
  char digits[256][2];
  constexpr hex_pairs() : digits() {
    constexpr char hex[] = "0123456789abcdef";
    for (int b = 0; b < 256; ++b) {
      digits[b][0] = hex[b >> 4];
      digits[b][1] = hex[b & 0x0F];
    }
  }
};
constexpr hex_pairs hex_of_byte;

class text_writer {
 public:
  explicit text_writer(qmgl_output& out) noexcept : _to(out) {}

  // The text of any body.
  void write(qmgl_value_base const& body) {
    if (auto const* number = qmgl_exactly<value_int_t const>(body)) {
      write_int(number->value);
    } else if (auto const* text = qmgl_exactly<value_str_t const>(body)) {
      write_quoted(text->value, '\'');
    } else if (auto const* array = qmgl_exactly<value_array_t const>(body)) {
      write_array(array->value);
      _to.write(' ');
    } else if (auto const* wide = qmgl_exactly<value_uni_t const>(body)) {
      write_uni(wide->value);
    } else if (auto const* bytes = qmgl_exactly<value_bin_t const>(body)) {
      write_bin(bytes->value);
    } else if (auto const* boolean = qmgl_exactly<value_bool_t const>(body)) {
      write_word(boolean->value ? "true " : "false ");
    } else if (qmgl_exactly<value_null_t const>(body) != nullptr) {
      write_word("null ");
    } else if (auto const* three = qmgl_exactly<value_bool3_t const>(body)) {
      write_word(three->value == qmgl_bool3_unknown ? "unknown "
                 : three->value == qmgl_bool3_true  ? "true "
                                                     : "false ");
    } else if (qmgl_exactly<value_eoi_t const>(body) != nullptr) {
      write_int(-1);  // the text of INT -1, which does not read back as the marker
    } else if (qmgl_exactly<value_eol_t const>(body) != nullptr) {
      _to.write('\0');
    } else {
      _to.release();
      body.stream_out(_to.stream());
    }
  }

  // "(", the elements separated by ", ", then ") ". A stream that grows in its own memory is
  // first given room for the whole text, so that a long text is not copied and its memory
  // touched again at every growth.
  void write_array(qmgl_value_array const& a) {
    if (_to.takes_any_room()) _to.room(array_size(a));
    _to.write('(');
    bool first = true;
    for (qmgl_value const& element : elements(a)) {
      if (!first) _to.write(", ", 2);
      first = false;
      write(*element._body);
    }
    _to.write(") ", 2);
  }

 private:
  // The number of characters of the body's text, or of the known part of it: a body of a
  // class the writer does not know counts nothing (the stream then grows as it is written).
  static std::size_t text_size(qmgl_value_base const& body) noexcept {
    if (auto const* number = qmgl_exactly<value_int_t const>(body)) return int_size(number->value);
    if (auto const* text = qmgl_exactly<value_str_t const>(body))
      return text->value.length() + qmgl_count_byte(text->value, text->value.length(), '\'') + 3;
    if (auto const* array = qmgl_exactly<value_array_t const>(body))
      return array_size(array->value) + 1;
    if (auto const* wide = qmgl_exactly<value_uni_t const>(body))
      return uni_size(wide->value, wide->value.length()) + 4;
    if (auto const* bytes = qmgl_exactly<value_bin_t const>(body))
      return 2 * std::size_t{bytes->value.get_size()} + 2;
    // At most "unknown ", and one NUL for EOL; room for more than is written is no harm.
    return 8;
  }
  static std::size_t array_size(qmgl_value_array const& a) noexcept {
    std::size_t size = 3 + (a.get_size() > 1 ? 2 * std::size_t{a.get_size() - 1} : 0);
    for (qmgl_value const& element : elements(a))
      size += text_size(*element._body);
    return size;
  }
  // The values of a, which are stored one after another.
  static std::span<qmgl_value const> elements(qmgl_value_array const& a) noexcept {
    if (a.get_size() == 0) return {};
    return {&a[0], a.get_size()};
  }
  // The digits, a minus sign, two spaces.
  static std::size_t int_size(int n) noexcept {
    std::uint32_t magnitude = static_cast<std::uint32_t>(n);
    std::size_t size = 3;
    if (n < 0) {
      magnitude = 0u - magnitude;
      ++size;
    }
    for (std::uint32_t bound = 10; magnitude >= bound && bound != 1000000000u; bound *= 10)
      ++size;
    return size + (magnitude >= 1000000000u ? 1 : 0);
  }
  // The UTF-8 form of the n units at units with its double quotes written twice. A double
  // quote is a byte of its own in UTF-8: every other unit's bytes are at least 0x80, or are
  // the unit's own value.
  static std::size_t uni_size(unsigned short const* units, std::size_t n) noexcept {
    return qmgl_utf8_size(units, n) +
           static_cast<std::size_t>(std::count(units, units + n, static_cast<unsigned short>('"')));
  }

  void write_word(char const* word) { _to.write(word, std::strlen(word)); }

  // The digits, a minus sign before them for a negative n, then two spaces.
  void write_int(int n) {
    char text[16];
    char* const end = text + sizeof text;
    char* p = end;
    *--p = ' ';
    *--p = ' ';
    // The magnitude in unsigned arithmetic, so that the most negative value has one too.
    std::uint32_t magnitude = static_cast<std::uint32_t>(n);
    if (n < 0) magnitude = 0u - magnitude;
    do {
      *--p = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (n < 0) *--p = '-';
    _to.write(p, static_cast<std::size_t>(end - p));
  }

  // The quote, the text with every quote written twice, the quote, one space.
  void write_quoted(char const* text, std::size_t length, char quote) {
    if (_to.takes_any_room()) {
      std::size_t const total = length + qmgl_count_byte(text, length, quote) + 3;
      char* to = _to.room(total);
      *to++ = quote;
      to = qmgl_copy_doubling(text, length, quote, to);
      *to++ = quote;
      *to = ' ';
      _to.wrote(total);
      return;
    }
    _to.write(quote);
    char const* const end = text + length;
    for (char const* p = text; p != end;) {
      char const* const hit = p + qmgl_find_byte(p, static_cast<std::size_t>(end - p), quote);
      char const* const stop = hit != end ? hit + 1 : end;
      _to.write(p, static_cast<std::size_t>(stop - p));
      if (hit != end) _to.write(quote);
      p = stop;
    }
    _to.write(quote);
    _to.write(' ');
  }
  void write_quoted(qmgl_ntarray_of<char, 0> const& text, char quote) {
    write_quoted(text, text.length(), quote);
  }

  // The UTF-8 form quoted with double quotes, then two spaces.
  void write_uni(qmgl_ntarray_of<unsigned short, 0> const& text) {
    unsigned short const* const units = text;
    std::size_t const length = text.length();
    if (!_to.takes_any_room()) {
      write_quoted(qmgl_uni_to_qmgl_str(units), '"');
      _to.write(' ');
      return;
    }
    std::size_t const total = uni_size(units, length) + 4;
    char* const to = _to.room(total);
    to[0] = '"';
    char* end = qmgl_utf16_to_utf8(units, length, to + 1);
    if (std::size_t const quotes = total - 4 - static_cast<std::size_t>(end - (to + 1));
        quotes != 0) {
      // Each quote written twice, moving the bytes back to front into their final places.
      char* from = end;
      end += quotes;
      for (char* at = end; from != at;) {
        char const c = *--from;
        *--at = c;
        if (c == '"') *--at = c;
      }
    }
    end[0] = '"';
    end[1] = ' ';
    end[2] = ' ';
    _to.wrote(total);
  }

  // "#", two lower-case hexadecimal digits per byte, one space.
  void write_bin(qmgl_refcounted_vector_of<unsigned char> const& value) {
    unsigned char const* bytes = value;
    std::size_t left = value.get_size();
    _to.write('#');
    while (left != 0) {
      // In pieces that fit the room of a stream that takes one character at a time.
      std::size_t const piece =
          _to.takes_any_room() ? left : std::min(left, qmgl_output_direct::small_room / 2);
      char* to = _to.room(2 * piece);
      for (std::size_t i = 0; i < piece; ++i) {
        std::memcpy(to, hex_of_byte.digits[bytes[i]], 2);
        to += 2;
      }
      _to.wrote(2 * piece);
      bytes += piece;
      left -= piece;
    }
    _to.write(' ');
  }

  qmgl_output_direct _to;
};

}  // namespace

void qmgl_write_value_array(qmgl_output& out, qmgl_value_array const& a) {
  text_writer(out).write_array(a);
}

void value_null_t::stream_out(qmgl_output& out) const {
  text_writer(out).write(*this);
}
unsigned value_null_t::output_length() const {
  return 4;
}

void value_eoi_t::stream_out(qmgl_output& out) const {
  text_writer(out).write(*this);
}
unsigned value_eoi_t::output_length() const {
  return 1;
}

void value_eol_t::stream_out(qmgl_output& out) const {
  text_writer(out).write(*this);
}
unsigned value_eol_t::output_length() const {
  return 1;
}

void value_bool_t::stream_out(qmgl_output& out) const {
  text_writer(out).write(*this);
}
unsigned value_bool_t::output_length() const {
  return value ? 4 : 5;
}

void value_bool3_t::stream_out(qmgl_output& out) const {
  text_writer(out).write(*this);
}
// Unknown counts 5, like false, not the 7 of its word.
unsigned value_bool3_t::output_length() const {
  return value == qmgl_bool3_true ? 4 : 5;
}

void value_int_t::stream_out(qmgl_output& out) const {
  text_writer(out).write(*this);
}
unsigned value_int_t::output_length() const {
  return qmgl_output_length(value);
}

void value_str_t::stream_out(qmgl_output& out) const {
  text_writer(out).write(*this);
}
// The characters of the text: neither the quotes nor the doubling count.
unsigned value_str_t::output_length() const {
  return value.length();
}

void value_uni_t::stream_out(qmgl_output& out) const {
  text_writer(out).write(*this);
}
// The converted text with its doubled double quotes, without the enclosing ones.
unsigned value_uni_t::output_length() const {
  unsigned short const* const units = value;
  std::size_t const length = value.length();
  return static_cast<unsigned>(
      qmgl_utf8_size(units, length) +
      static_cast<std::size_t>(std::count(units, units + length, static_cast<unsigned short>('"'))));
}

void value_bin_t::stream_out(qmgl_output& out) const {
  text_writer(out).write(*this);
}
unsigned value_bin_t::output_length() const {
  return 2 * value.get_size() + 1;
}

void value_array_t::stream_out(qmgl_output& out) const {
  text_writer(out).write(*this);
}
unsigned value_array_t::output_length() const {
  if (value.get_size() == 0) return 2;
  unsigned length = 0;
  for (unsigned i = 0; i < value.get_size(); ++i)
    length += value[i].output_length() + 2;
  return length;
}
