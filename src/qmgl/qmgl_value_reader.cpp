// The value text reader: a scanner with one character of look-ahead, which it gives back with
// the input's return_char.
//
// Where the input holds the characters in its own memory (qmgl_input_direct: string inputs,
// files, RPC streams), the scanner takes them from there in a tight loop, and whole runs of a
// quoted or binary constant at once, instead of calling get_char for each; it leaves the input
// exactly as the get_char and return_char calls of a character-at-a-time reading would, before
// anything else may use the input (a read it waits for, an error report, the return). The
// characters of a source's end always go through get_char.
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

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include <wygl/qmgl_bitstr.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_file_stream.h>
#include <wygl/qmgl_iconv.h>
#include <wygl/qmgl_output.h>
#include <wygl/qmgl_refcounted_vector.h>

#include "qmgl/qmgl_byte_scan.h"
#include "qmgl/qmgl_iconv_runs.h"
#include "qmgl/qmgl_input_direct.h"
#include "qmgl/qmgl_ntarray_build.h"
#include "qmgl/qmgl_value_array_builder.h"
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
  qmgl_value_base* (*body)() noexcept;
};

constexpr keyword keywords[] = {
    {"FALSE", []() noexcept { return qmgl_value_bool_body(false); }},
    {"TRUE", []() noexcept { return qmgl_value_bool_body(true); }},
    {"UNKNOWN", []() noexcept { return qmgl_value_bool3_body(qmgl_bool3_unknown); }},
    {"NULL", []() noexcept { return qmgl_value_null_body(); }},
};
constexpr std::size_t longest_keyword = 7;

// The characters of the input as the scanner reads them: get_char and return_char, or the same
// taken straight from the window the input shows (qmgl_input_direct). Whatever has been taken
// from a window is handed to the input (take) before any other use of the input, and when the
// source goes away, also by an exception.
// Scratch memory for the characters of constants that do not lie in one window: each thread
// keeps one block, which a read borrows and gives back, so that the thread's next reads reuse
// its memory instead of growing a block afresh each time. A read that another read on the same
// thread starts (through an input's own code) finds none kept and grows its own. A block above
// 16 MB is not kept, nor any once the thread's own objects are being destroyed at its end.
struct scratch_block {
  char* data;
  std::size_t capacity;
};

struct kept_scratch {
  scratch_block block;
  bool closer_armed;
  bool closed;
};
constinit thread_local kept_scratch kept{};

// Frees the kept block when the thread ends.
struct scratch_closer {
  ~scratch_closer() {
    std::free(kept.block.data);
    kept.block = {};
    kept.closed = true;
  }
};
thread_local scratch_closer thread_scratch_closer;

class scratch_text {
 public:
  scratch_text() noexcept : _block(kept.block) { kept.block = {}; }
  ~scratch_text() {
    constexpr std::size_t most_kept = std::size_t{16} << 20;
    if (kept.closed || kept.block.data != nullptr || _block.capacity > most_kept) {
      std::free(_block.data);
      return;
    }
    if (!kept.closer_armed) {
      kept.closer_armed = true;
      (void)&thread_scratch_closer;  // made now, so that it runs when the thread ends
    }
    kept.block = _block;
  }
  scratch_text(scratch_text const&) = delete;
  scratch_text& operator=(scratch_text const&) = delete;

  char const* data() const noexcept { return _block.data; }
  std::size_t size() const noexcept { return _size; }
  void clear() noexcept { _size = 0; }
  // Room for n more characters, which become part of the text. Raises std::bad_alloc.
  char* extend(std::size_t n) {
    if (_block.capacity - _size < n) grow(n);
    char* const at = _block.data + _size;
    _size += n;
    return at;
  }
  void push(char c) { *extend(1) = c; }
  // Drops the last n characters (at most size()).
  void shorten(std::size_t n) noexcept { _size -= n; }

 private:
  void grow(std::size_t n) {
    std::size_t const wanted = std::max({_size + n, 2 * _block.capacity, std::size_t{256}});
    void* const bigger = std::realloc(_block.data, wanted);
    if (bigger == nullptr) throw std::bad_alloc();
    _block = {static_cast<char*>(bigger), wanted};
  }

  scratch_block _block;
  std::size_t _size = 0;
};

// A byte vector filled by the reader after it is made.
struct built_bytes : qmgl_refcounted_vector_of<unsigned char> {
  explicit built_bytes(imp_type* body) noexcept : qmgl_refcounted_vector_of(body, bind_tag{}) {}
};

class char_source {
 public:
  explicit char_source(qmgl_input& in) noexcept : _in(in), _direct(in) { open_window(); }
  ~char_source() { hand_over(); }
  char_source(char_source const&) = delete;
  char_source& operator=(char_source const&) = delete;

  qmgl_input& input() noexcept {
    hand_over();
    return _in;
  }
  // The input, its window kept: for what its kind tells.
  qmgl_input const& kind() const noexcept { return _in; }

  // get_char.
  char next() {
    if (_at != _end) return *_at++;
    return next_slowly();
  }
  // return_char, right after a next.
  void back() {
    if (_at != _window) {
      _returned = --_at;
      return;
    }
    hand_over();
    _in.return_char();
  }

  // The characters next would give without going to the input, as [begin, end).
  char const* begin() const noexcept { return _at; }
  char const* end() const noexcept { return _end; }
  // Takes the characters of the window up to to, as next calls would.
  void skip_to(char const* to) noexcept { _at = to; }
  // Whether the next character must come from the input itself.
  bool window_used_up() const noexcept { return _at == _end; }

 private:
  // A window grows with every reopening within one read, so that reading a long run costs
  // few of them while a short value looks only a little way ahead.
  static constexpr std::size_t first_window = 256;
  static constexpr std::size_t largest_window = std::size_t{1} << 20;

  void open_window() noexcept {
    qmgl_input_direct::span const w = _direct.window(_window_size);
    _window = _at = w.begin;
    _end = w.end;
    _returned = nullptr;
    if (_window_size < largest_window) _window_size *= 2;
  }

  // Hands what has been taken from the window to the input; there is no window afterwards.
  void hand_over() noexcept {
    if (_window != nullptr) {
      if (_at == _returned)
        _direct.take(_window, _at + 1, true);
      else if (_at != _window)
        _direct.take(_window, _at, false);
    }
    _window = _at = _end = _returned = nullptr;
  }

  char next_slowly() {
    hand_over();
    char const c = _in.get_char();
    open_window();
    return c;
  }

  qmgl_input& _in;
  qmgl_input_direct _direct;
  std::size_t _window_size = first_window;
  // The window [_window, _end), taken up to _at; _returned is the character pushed back
  // with back(), while _at is on it.
  char const* _window = nullptr;
  char const* _at = nullptr;
  char const* _end = nullptr;
  char const* _returned = nullptr;
};

class value_reader {
 public:
  explicit value_reader(qmgl_input& in) : _in(in), _delimiters(delimiters()) {}

  // v is NULL.
  void read(qmgl_value& v) {
    char const first = next_non_white();
    if (first == '(')
      read_array(v);
    else
      v._body = read_single(first);
  }

 private:
  char next_non_white() {
    char c;
    do {
      c = _in.next();
    } while (is_a(c, white_space));
    return c;
  }

  bool is_end(char c) { return c == '\0' || (c == end_of_file && _in.input().empty()); }
  // Whether a NUL from the input is a byte of it rather than its end: true for a file input.
  bool nul_is_data() { return dynamic_cast<qmgl_input_file const*>(&_in.kind()) != nullptr; }

  // The body of a value that is no array; first is its first character.
  qmgl_value_base* read_single(char first) {
    switch (first) {
      case end_of_file:
        return qmgl_value_eoi_body();
      case '\0':
        return qmgl_value_eol_body();
      case '\'':
      case '"':
        return read_quoted(first);
      case '#':
        return read_binary();
      case '+':
      case '-':
        return read_int(first);
      default:
        break;
    }
    if (is_a(first, decimal_digit)) return read_int(first);
    if (is_a(first, keyword_start)) return read_keyword(first);
    fail_at(first, is_a(first, stray_punctuation) ? "unrecognized input" : "unrecognized value");
  }

  // The '(' has been read. Inner arrays add their elements to v, so only the number of arrays
  // still open matters. The elements are collected and given to v's array at once, when the
  // array ends or the reading fails.
  void read_array(qmgl_value& v) {
    v = qmgl_value_array();
    qmgl_value_array_builder elements;
    try {
      read_elements(elements);
    } catch (...) {
      elements.append_to(static_cast<value_array_t*>(v._body)->value);
      throw;
    }
    elements.append_to(static_cast<value_array_t*>(v._body)->value);
  }

  void read_elements(qmgl_value_array_builder& elements) {
    std::uint64_t open = 1;
    for (;;) {
      // Just after a '(': a ')' at once, without white space, closes an empty array.
      char c = _in.next();
      if (c == ')') {
        if (--open == 0) return;
      } else {
        _in.back();
        c = next_non_white();
        if (c == '(') {
          ++open;
          continue;
        }
        read_element(c, elements);
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
        read_element(c, elements);
      }
    }
  }

  void read_element(char first, qmgl_value_array_builder& elements) {
    // The input has ended where an element belongs: the array can no longer be closed, and
    // taking the end as an element (EOL or EOI) would have the next read go beyond it. A NUL
    // read from a file is a byte of it, an EOL element.
    if (is_end(first) && !(first == '\0' && nul_is_data())) fail_at(first, "unrecognized input");
    elements.add(read_single(first));
  }

  // A doubled quote stands for one; the input's end before the closing quote fails.
  qmgl_value_base* read_quoted(char quote) {
    if (qmgl_value_base* const body = read_quoted_in_window(quote)) return body;
    _text.clear();
    for (;;) {
      // The characters the window holds up to the next quote that is not doubled, or up to a
      // quote on its last byte, whose partner the input itself gives.
      char const* const from = _in.begin();
      if (from != _in.end()) {
        std::size_t const room = static_cast<std::size_t>(_in.end() - from);
        char* const to = _text.extend(room);
        qmgl_quoted_copy const copy = qmgl_copy_quoted(from, _in.end(), quote, to);
        _text.shorten(room - static_cast<std::size_t>(copy.to - to));
        _in.skip_to(copy.stop);
      }
      char const c = _in.next();
      if (c == quote) {
        if (_in.next() != quote) {
          _in.back();
          break;
        }
      } else if (is_end(c)) {
        _in.back();
        unterminated(quote == '\'' ? "unterminated string constant (unmatched single quote)"
                                   : "unterminated string constant (unmatched double quote)");
      }
      _text.push(c);
    }
    return make_quoted(quote, _text.data(), _text.size());
  }

  // The whole constant, its closing quote and the character after it in the window: the value
  // is made straight from the window. Null, with nothing taken, when the window ends sooner.
  qmgl_value_base* read_quoted_in_window(char quote) {
    char const* const from = _in.begin();
    qmgl_quoted_scan const scan = qmgl_scan_quoted(from, _in.end(), quote);
    if (scan.stop == _in.end() || scan.stop + 1 == _in.end()) return nullptr;
    // The closing quote and the character after it are read; that one goes back.
    _in.skip_to(scan.stop + 2);
    _in.back();
    std::size_t const length = static_cast<std::size_t>(scan.stop - from) - scan.doubled;
    if (scan.doubled == 0) return make_quoted(quote, from, length);
    check_length(length);
    if (quote == '\'') {
      // The string's body is filled straight from the window.
      auto* const body = qmgl_ntarray_imp_of<char, 0>::create(static_cast<unsigned>(length));
      *qmgl_copy_undoubling(from, scan.stop, quote, body->data) = '\0';
      body->length = static_cast<unsigned>(length);
      return qmgl_value_new_body<value_str_t>(qmgl_ntarray_built<char, 0>(body));
    }
    _text.clear();
    qmgl_copy_undoubling(from, scan.stop, quote, _text.extend(length));
    return make_quoted(quote, _text.data(), length);
  }

  // The value of a quoted constant whose characters are the length ones at text.
  static qmgl_value_base* make_quoted(char quote, char const* text, std::size_t length) {
    check_length(length);
    if (quote == '\'')
      return qmgl_value_new_body<value_str_t>(
          qmgl_ntarray_of<char, 0>(text, static_cast<unsigned>(length)));
    return qmgl_value_new_body<value_uni_t>(qmgl_utf8_to_uni(text, length));
  }

  // Pairs of hexadecimal digits up to a delimiter or the end of a file; an odd last digit is
  // dropped.
  qmgl_value_base* read_binary() {
    if (qmgl_value_base* const body = read_binary_in_window()) return body;
    _text.clear();
    int high = -1;
    for (;;) {
      char const c = _in.next();
      int const digit = hex_values[static_cast<unsigned char>(c)];
      if (digit < 0) {
        if (!_delimiters.contains(c) && !is_end(c)) fail_at(c, "illegal input");
        _in.back();
        break;
      }
      if (high < 0) {
        high = digit;
      } else {
        _text.push(static_cast<char>(high * 16 + digit));
        high = -1;
      }
    }
    return make_binary(reinterpret_cast<unsigned char const*>(_text.data()), _text.size() * 2);
  }

  // The digits and the character after them in the window: the bytes are made straight from
  // it. Null, with nothing taken, when the window ends sooner.
  qmgl_value_base* read_binary_in_window() {
    char const* const from = _in.begin();
    char const* const end = _in.end();
    char const* at = from;
    while (at != end && hex_values[static_cast<unsigned char>(*at)] >= 0)
      ++at;
    if (at == end) return nullptr;
    // The window holds no NUL, nor the end of a file, whose 0xFF it shows only as data.
    _in.skip_to(at + 1);
    if (!_delimiters.contains(*at)) fail_at(*at, "illegal input");
    _in.back();
    return make_binary(reinterpret_cast<unsigned char const*>(from),
                       static_cast<std::size_t>(at - from), true);
  }

  // The BIN value of digits/2 bytes: from pairs of the hexadecimal digits at text, or, when
  // not from_digits, the bytes at text already made.
  static qmgl_value_base* make_binary(unsigned char const* text, std::size_t digits,
                                      bool from_digits = false) {
    std::size_t const count = digits / 2;
    check_length(count);
    using body_type = qmgl_refcounted_vector_imp_of<unsigned char>;
    body_type* const body = body_type::create(static_cast<unsigned>(count));
    if (from_digits) {
      for (std::size_t i = 0; i < count; ++i)
        body->data[i] =
            static_cast<unsigned char>(16 * hex_values[text[2 * i]] + hex_values[text[2 * i + 1]]);
    } else if (count != 0) {
      std::memcpy(body->data, text, count);
    }
    return qmgl_value_new_body<value_bin_t>(built_bytes(body));
  }

  // Decimal digits after an optional sign, taken modulo 2^32, ended by a delimiter.
  qmgl_value_base* read_int(char first) {
    char c = first;
    if (first == '+' || first == '-') {
      c = _in.next();
      if (!is_a(c, decimal_digit)) fail_at(c, "unrecognized value starting with +|-");
    }
    std::uint32_t n = 0;
    do {
      n = 10 * n + static_cast<std::uint32_t>(c - '0');
      c = _in.next();
    } while (is_a(c, decimal_digit));
    if (!_delimiters.contains(c)) fail_at(c, "illegal input");
    _in.back();
    return qmgl_value_new_body<value_int_t>(static_cast<int>(first == '-' ? 0u - n : n));
  }

  // A word in any case; only its first characters need keeping, since a longer word is no
  // keyword.
  qmgl_value_base* read_keyword(char first) {
    char word[longest_keyword + 1];
    std::size_t length = 0;
    char c = first;
    do {
      if (length < sizeof word) word[length++] = ascii_upper(c);
      c = _in.next();
    } while (is_a(c, word_character));
    _in.back();
    for (keyword const& k : keywords) {
      if (std::string_view(word, length) == k.word) return k.body();
    }
    fail("unrecognized keyword");
  }

  // A string or byte vector holds at most 0xFFFFFFFE elements.
  static void check_length(std::size_t length) {
    if (length > 0xFFFFFFFEu) out_of_memory(__LINE__);
  }

  static char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

  // c is the character just read, not pushed back: the end of the input is kept for the next
  // read.
  [[noreturn]] void fail_at(char c, char const* message) {
    if (is_end(c)) _in.back();
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
    qmgl_input& in = _in.input();
    int shown = 0;
    for (; shown < most_context; ++shown) {
      char const c = in.get_char();
      if (c == '\0' || (c == end_of_file && in.empty())) {
        in.return_char();
        break;
      }
      out.put_char(c);
    }
    out << (shown == most_context ? " ...>" : ">") << "\r\n";
    throw exc_invalid_token_t(qmgl_value_source_file, __LINE__, report);
  }

  [[noreturn]] void unterminated(char const* message) {
    _in.input();  // everything taken is handed to the input before the report
    qmgl_ntarray_of<char, 0> report;
    qmgl_output_str out(report);
    out << "\r\n" << message << "\r\n";
    throw exc_unexpected_end_of_input_t(qmgl_value_source_file, __LINE__, report);
  }

  char_source _in;
  qmgl_char_set const& _delimiters;
  // The characters of a quoted constant or the bytes of a binary one that do not lie in one
  // window: the thread's scratch text, borrowed for the read.
  scratch_text _text;
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
