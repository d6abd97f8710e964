// Feeds arbitrary bytes to the value text reader, twice: as a string input (ended by the first
// NUL) and as a file-like input (ended by the character 0xFF). Every read must give a value or
// raise one of the reader's own exceptions with one of its own texts; every value read must be
// written and read back as the value the text syntax promises. Anything else aborts, which
// libFuzzer reports with the input that caused it.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_iconv.h>
#include <wygl/qmgl_input.h>
#include <wygl/qmgl_output.h>
#include <wygl/qmgl_value.h>
#include <wygl/qmgl_value_reader.h>

namespace {

enum type_code : unsigned { eoi_type = 1, eol_type = 2, bool_type = 3, bool3_type = 4 };

unsigned type_of(qmgl_value const& v) {
  return v._body->type_code();
}

[[noreturn]] void fail(char const* what, std::string_view detail = {}) {
  std::fprintf(stderr, "value_reader_fuzzer: %s\n%.*s\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

std::string text_of(qmgl_value const& v) {
  qmgl_ntarray_of<char, 0> text;
  qmgl_output_str out(text);
  v.stream_out(out);
  return std::string(text, text.length());
}

// A source over bytes that may hold NULs, ending as a file does with 0xFF.
class file_like_input : public qmgl_input_imp {
 public:
  file_like_input(std::uint8_t const* data, std::size_t size) : _data(data), _size(size) {}

 private:
  char really_get_char() override {
    if (_next == _size) return end_of_source('\xff');
    return static_cast<char>(_data[_next++]);
  }
  std::uint8_t const* _data;
  std::size_t _size;
  std::size_t _next = 0;
};

bool survives_utf8(qmgl_ntarray_of<unsigned short, 0> const& wide) {
  return qmgl_str_to_qmgl_uni(qmgl_uni_to_qmgl_str(wide)) == wide;
}

bool same_type_and_content(qmgl_value const& a, qmgl_value const& b) {
  return type_of(a) == type_of(b) && (a.is_null() || (a == b).as_bool());
}

// Whether back is what the text of read (a value the reader made) must read back as.
bool reads_back_as(qmgl_value const& read, qmgl_value const& back) {
  if (read.is_eoi()) return back.is_int() && back.as_int() == -1;
  if (type_of(read) == bool3_type && read.as_bool3() != qmgl_bool3(qmgl_bool3_unknown))
    return type_of(back) == bool_type && back.as_bool() == read.as_bool();
  if (read.is_uni() && !survives_utf8(read.as_uni())) return back.is_uni();
  if (!read.is_value_array()) return same_type_and_content(read, back);
  if (!back.is_value_array()) return false;
  qmgl_value_array const& a = read.as_value_array();
  qmgl_value_array const& b = back.as_value_array();
  if (a.get_size() != b.get_size()) return false;
  for (unsigned i = 0; i < a.get_size(); ++i) {
    if (a[i].is_value_array()) fail("an array read holds an array", text_of(read));
    if (type_of(a[i]) == eol_type) fail("an array read holds EOL", text_of(read));
    if (!reads_back_as(a[i], b[i])) return false;
  }
  return true;
}

void check_round_trip(qmgl_value const& read) {
  std::string const text = text_of(read);
  qmgl_input_str in(text.c_str());
  qmgl_value back;
  try {
    in >> back;
  } catch (exc_t const& e) {
    fail(e.message, text);
  }
  if (!reads_back_as(read, back)) fail("read back differently", text + " -> " + text_of(back));
  qmgl_value after;
  in >> after;
  if (type_of(after) != eol_type) fail("the text of one value read as more", text);
}

// The rest of text after "\r\n", one of messages and "\r\n"; null when it starts otherwise.
char const* after_message(char const* text, char const* const* messages) {
  std::string_view const report = text;
  for (; *messages != nullptr; ++messages) {
    std::string const head = std::string("\r\n") + *messages + "\r\n";
    if (report.substr(0, head.size()) == head) return text + head.size();
  }
  return nullptr;
}

// "before: <", fewer than 80 characters and ">", or 80 characters and " ...>"; then "\r\n".
bool is_context(std::string_view rest) {
  constexpr std::string_view open = "before: <", close = ">\r\n", cut = " ...";
  if (rest.substr(0, open.size()) != open || rest.size() < open.size() + close.size() ||
      rest.substr(rest.size() - close.size()) != close)
    return false;
  std::string_view const context =
      rest.substr(open.size(), rest.size() - open.size() - close.size());
  return context.size() < 80 || (context.size() == 80 + cut.size() && context.substr(80) == cut);
}

void check_failure(exc_t const& e, bool end_of_input) {
  static char const* const token_messages[] = {"unrecognized value starting with +|-",
                                               "illegal input",
                                               "unrecognized keyword",
                                               "unrecognized input",
                                               "unrecognized value",
                                               nullptr};
  static char const* const end_messages[] = {
      "unterminated string constant (unmatched single quote)",
      "unterminated string constant (unmatched double quote)", nullptr};
  if (std::strcmp(e.file, "src/qmgl/qmgl_iconv") == 0 && end_of_input) return;
  if (std::strcmp(e.file, "src/qmgl/qmgl_value") != 0) fail("raised from elsewhere", e.file);
  char const* const rest = after_message(e.message, end_of_input ? end_messages : token_messages);
  if (rest == nullptr) fail("unexpected report", e.message);
  if (end_of_input ? *rest != '\0' : !is_context(rest)) fail("report badly formed", e.message);
}

// Reads values until the input's end, going on after failures; each read either consumes input
// or meets the end, so the bound is never reached by a reader that works.
void read_all(qmgl_input& in, std::size_t bound) {
  for (std::size_t reads = 0; reads <= bound; ++reads) {
    qmgl_value v;
    try {
      in >> v;
    } catch (exc_invalid_token_t const& e) {
      check_failure(e, false);
      continue;
    } catch (exc_unexpected_end_of_input_t const& e) {
      check_failure(e, true);
      continue;
    }
    if (type_of(v) == eol_type && in.empty()) return;
    if (v.is_eoi() && in.empty()) return;
    check_round_trip(v);
  }
  fail("reading does not reach the end");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  std::string const text(reinterpret_cast<char const*>(data), size);
  qmgl_input_str string_input(text.c_str());
  read_all(string_input, size + 1);
  file_like_input file_input(data, size);
  read_all(file_input, size + 1);
  return 0;
}
