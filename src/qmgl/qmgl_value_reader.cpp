// The value text reader: a scanner with one character of look-ahead, which it gives back with
// the input's return_char.
//
// Choices made where the syntax leaves room:
// - The end of a file input is the character 0xFF with the input's empty() true. It ends a
//   quoted constant as unterminated and ends a binary constant, which is accepted; either way
//   the 0xFF is pushed back, so the next read gives EOI. A 0xFF with empty() false is data.
// - The end of the input (NUL, or that 0xFF) is never consumed by a failure: it is pushed back
//   before the error report reads its context, and the context stops there. A reader of an
//   RPC message therefore never reads past the message's terminator, and a file's end does not
//   fill the context with 0xFF characters.
// - A binary constant accepts only hexadecimal digits; any other character that is no
//   delimiter fails with "illegal input", as a number does. The dropped odd last character of
//   a constant must be a hexadecimal digit as well.
// - Arrays nest without limit: since an array inside an array adds its elements to the outer
//   one, nested arrays are read by counting the open parentheses, not by recursion, so that
//   no input can exhaust the stack. Elements are appended to the outermost array as they are
//   read, which is what appending each inner array would give.
// - Where an array element belongs, a NUL read from a file input is an EOL element, since a
//   file goes on after a NUL and ends in 0xFF. The end of any input there, the NUL that ends a
//   string, an argument vector or an RPC message or the 0xFF that ends a file, fails with
//   "unrecognized input" at once rather than being taken as an EOL or EOI element, after which
//   the next character would have to be read from beyond the end: a reader of an RPC message
//   would wait there for data that belongs to no message.
// - After a failure the value is NULL, or the flat array of the elements read completely
//   before the failure when it came inside an array.
// - Bytes 0x80 to 0xFE are no white space, no delimiter and no word character; the classes are
//   fixed here instead of asked of the C library, whose answers depend on the locale.

#include <wygl/qmgl_value_reader.h>

#include <array>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>

#include <wygl/qmgl_bitstr.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_file_stream.h>
#include <wygl/qmgl_iconv.h>
#include <wygl/qmgl_output.h>
#include <wygl/qmgl_refcounted_vector.h>

#include "qmgl/qmgl_value_body.h"
#include "qmgl/qmgl_value_internal.h"

namespace {

constexpr char end_of_file = '\xff';

[[noreturn]] void out_of_memory(int line) {
  throw exc_not_enough_memory_t(qmgl_value_source_file, line, "not enough memory");
}

enum char_class : unsigned char {
  white_space = 1,
  word_character = 2,  // letters, digits, '_' and '.'
  keyword_start = 4,   // letters and '_'
  decimal_digit = 8,
  // The punctuation that starts no value: "unrecognized input" rather than "unrecognized
  // value".
  stray_punctuation = 16,
};

constexpr std::array<unsigned char, 256> make_classes() {
  std::array<unsigned char, 256> classes{};
  for (unsigned char c : std::string_view(" \t\n\v\f\r"))
    classes[c] |= white_space;
  for (unsigned c = 'A'; c <= 'Z'; ++c) {
    classes[c] |= word_character | keyword_start;
    classes[c + ('a' - 'A')] |= word_character | keyword_start;
  }
  for (unsigned c = '0'; c <= '9'; ++c)
    classes[c] |= word_character | decimal_digit;
  classes['_'] |= word_character | keyword_start;
  classes['.'] |= word_character;
  for (unsigned char c : std::string_view("%)*,.:;<=>{}"))
    classes[c] |= stray_punctuation;
  return classes;
}

constexpr std::array<unsigned char, 256> classes = make_classes();

bool is_a(char c, char_class wanted) {
  return (classes[static_cast<unsigned char>(c)] & wanted) != 0;
}

// The value of a hexadecimal digit of either case, or -1 for any other character.
constexpr std::array<signed char, 256> make_hex_values() {
  std::array<signed char, 256> values{};
  values.fill(-1);
  for (int d = 0; d < 10; ++d)
    values['0' + d] = static_cast<signed char>(d);
  for (int d = 0; d < 6; ++d) {
    values['A' + d] = static_cast<signed char>(10 + d);
    values['a' + d] = static_cast<signed char>(10 + d);
  }
  return values;
}

constexpr std::array<signed char, 256> hex_values = make_hex_values();

// The delimiters, which end numbers and binary constants. Made by the first read in the
// process and destroyed at exit; the language makes the initialisation of a local static
// happen once, with concurrent first callers waiting for it to finish.
qmgl_char_set const& delimiters() {
  static qmgl_char_set const set = [] {
    qmgl_char_set made;
    made.add('\0');
    for (char c : std::string_view(" \t\n\v\f\r(){},.;:*=<>%+-'\""))
      made.add(c);
    return made;
  }();
  return set;
}

struct keyword {
  std::string_view word;
  qmgl_value (*make)();
};

constexpr keyword keywords[] = {
    {"FALSE", [] { return qmgl_value(false); }},
    {"TRUE", [] { return qmgl_value(true); }},
    {"UNKNOWN", [] { return qmgl_value(qmgl_bool3_unknown); }},
    {"NULL", [] { return qmgl_value(); }},
};
constexpr std::size_t longest_keyword = 7;

class value_reader {
 public:
  explicit value_reader(qmgl_input& in) : _in(in), _delimiters(delimiters()) {}

  void read(qmgl_value& v) {
    char const first = next_non_white();
    if (first == '(')
      read_array(v);
    else
      read_single(first, v);
  }

 private:
  char next_non_white() {
    char c;
    do {
      c = _in.get_char();
    } while (is_a(c, white_space));
    return c;
  }

  bool is_end(char c) const { return c == '\0' || (c == end_of_file && _in.empty()); }
  // Whether a NUL from the input is a byte of it rather than its end: true for a file input.
  bool nul_is_data() const { return dynamic_cast<qmgl_input_file const*>(&_in) != nullptr; }

  // Everything but an array; first is its first character.
  void read_single(char first, qmgl_value& v) {
    switch (first) {
      case end_of_file:
        v = qmgl_value_eoi();
        return;
      case '\0':
        v = qmgl_value_eol();
        return;
      case '\'':
      case '"':
        read_quoted(first, v);
        return;
      case '#':
        read_binary(v);
        return;
      case '+':
      case '-':
        read_int(first, v);
        return;
      default:
        break;
    }
    if (is_a(first, decimal_digit))
      read_int(first, v);
    else if (is_a(first, keyword_start))
      read_keyword(first, v);
    else
      fail_at(first, is_a(first, stray_punctuation) ? "unrecognized input" : "unrecognized value");
  }

  // The '(' has been read. Inner arrays add their elements to v, so only the number of arrays
  // still open matters.
  void read_array(qmgl_value& v) {
    v = qmgl_value_array();
    std::uint64_t open = 1;
    for (;;) {
      // Just after a '(': a ')' at once, without white space, closes an empty array.
      char c = _in.get_char();
      if (c == ')') {
        if (--open == 0) return;
      } else {
        _in.return_char();
        c = next_non_white();
        if (c == '(') {
          ++open;
          continue;
        }
        append_single(c, v);
      }
      // After an element or a ')': a ',' and the next element, or a ')' closing an array.
      for (;;) {
        c = next_non_white();
        if (c == ')') {
          if (--open == 0) return;
          continue;
        }
        if (c != ',') fail_at(c, "unrecognized input");
        c = next_non_white();
        if (c == '(') {
          ++open;
          break;
        }
        append_single(c, v);
      }
    }
  }

  void append_single(char first, qmgl_value& array) {
    if (is_end(first) && !(first == '\0' && nul_is_data())) fail_at(first, "unrecognized input");
    qmgl_value element;
    read_single(first, element);
    // The element is moved into a new NULL slot rather than appended as a copy: the same
    // array, without a second body for every element.
    qmgl_value_array& elements = static_cast<value_array_t*>(array._body)->value;
    elements += qmgl_value();
    elements[elements.get_size() - 1].swap(element);
  }

  // A doubled quote stands for one; the input's end before the closing quote fails.
  void read_quoted(char quote, qmgl_value& v) {
    _text.clear();
    for (;;) {
      char const c = _in.get_char();
      if (c == quote) {
        if (_in.get_char() != quote) {
          _in.return_char();
          break;
        }
      } else if (is_end(c)) {
        _in.return_char();
        unterminated(quote == '\'' ? "unterminated string constant (unmatched single quote)"
                                   : "unterminated string constant (unmatched double quote)");
      }
      _text += c;
    }
    qmgl_ntarray_of<char, 0> const text(_text.data(), text_length());
    if (quote == '\'')
      v = text;
    else
      v = qmgl_str_to_qmgl_uni(text);
  }

  // Pairs of hexadecimal digits up to a delimiter or the end of a file; an odd last digit is
  // dropped.
  void read_binary(qmgl_value& v) {
    _text.clear();
    int high = -1;
    for (;;) {
      char const c = _in.get_char();
      int const digit = hex_values[static_cast<unsigned char>(c)];
      if (digit < 0) {
        if (!_delimiters.contains(c) && !is_end(c)) fail_at(c, "illegal input");
        _in.return_char();
        break;
      }
      if (high < 0) {
        high = digit;
      } else {
        _text += static_cast<char>(high * 16 + digit);
        high = -1;
      }
    }
    v = qmgl_refcounted_vector_of<unsigned char>(
        reinterpret_cast<unsigned char const*>(_text.data()), text_length());
  }

  // Decimal digits after an optional sign, taken modulo 2^32, ended by a delimiter.
  void read_int(char first, qmgl_value& v) {
    char c = first;
    if (first == '+' || first == '-') {
      c = _in.get_char();
      if (!is_a(c, decimal_digit)) fail_at(c, "unrecognized value starting with +|-");
    }
    std::uint32_t n = 0;
    do {
      n = 10 * n + static_cast<std::uint32_t>(c - '0');
      c = _in.get_char();
    } while (is_a(c, decimal_digit));
    if (!_delimiters.contains(c)) fail_at(c, "illegal input");
    _in.return_char();
    v = static_cast<int>(first == '-' ? 0u - n : n);
  }

  // A word in any case; only its first characters need keeping, since a longer word is no
  // keyword.
  void read_keyword(char first, qmgl_value& v) {
    char word[longest_keyword + 1];
    std::size_t length = 0;
    char c = first;
    do {
      if (length < sizeof word) word[length++] = ascii_upper(c);
      c = _in.get_char();
    } while (is_a(c, word_character));
    _in.return_char();
    for (keyword const& k : keywords) {
      if (std::string_view(word, length) == k.word) {
        v = k.make();
        return;
      }
    }
    fail("unrecognized keyword");
  }

  // The length of _text, which a string or byte vector can hold only up to 0xFFFFFFFE.
  unsigned text_length() const {
    if (_text.size() > 0xFFFFFFFEu) out_of_memory(__LINE__);
    return static_cast<unsigned>(_text.size());
  }

  static char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

  // c is the character just read, not pushed back: the end of the input is kept for the next
  // read.
  [[noreturn]] void fail_at(char c, char const* message) {
    if (is_end(c)) _in.return_char();
    fail(message);
  }

  // An invalid token: the message and up to 80 characters of what follows in the input.
  [[noreturn]] void fail(char const* message) {
    constexpr int most_context = 80;
    qmgl_ntarray_of<char, 0> report;
    qmgl_output_str out(report);
    out << "\r\n"
        << message << "\r\n"
        << "before: <";
    int shown = 0;
    for (; shown < most_context; ++shown) {
      char const c = _in.get_char();
      if (is_end(c)) {
        _in.return_char();
        break;
      }
      out.put_char(c);
    }
    out << (shown == most_context ? " ...>" : ">") << "\r\n";
    throw exc_invalid_token_t(qmgl_value_source_file, __LINE__, report);
  }

  [[noreturn]] void unterminated(char const* message) {
    qmgl_ntarray_of<char, 0> report;
    qmgl_output_str out(report);
    out << "\r\n" << message << "\r\n";
    throw exc_unexpected_end_of_input_t(qmgl_value_source_file, __LINE__, report);
  }

  qmgl_input& _in;
  qmgl_char_set const& _delimiters;
  // The characters of a quoted constant or the bytes of a binary one, kept between constants
  // so that its memory is reused.
  std::string _text;
};

}  // namespace

qmgl_input& operator>>(qmgl_input& in, qmgl_value& v) {
  in.throw_on_eoi(false);
  v = qmgl_value();
  // The scratch text grows as a std::string, which reports a failed allocation as
  // std::bad_alloc; the library reports it as exc_not_enough_memory_t.
  try {
    value_reader(in).read(v);
  } catch (std::bad_alloc const&) {
    out_of_memory(__LINE__);
  }
  return in;
}
