#include <chrono>
#include <cstdint>
#include <future>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_file_stream.h>
#include <wygl/qmgl_input.h>
#include <wygl/qmgl_value.h>
#include <wygl/qmgl_value_reader.h>

#include "support/raised.h"
#include "support/temp_dir.h"
#include "support/value_helpers.h"

namespace {

constexpr unsigned eoi_type = 1, eol_type = 2, bool3_type = 4, array_type = 9;

unsigned type_of(qmgl_value const& v) {
  return v._body->type_code();
}

// A source that ends as an RPC message does, with one NUL after which the next message would
// have to be waited for.
class message_input : public qmgl_input_imp {
 public:
  explicit message_input(std::string text) : _text(std::move(text)) {}
  int reads_past_end = 0;

 private:
  char really_get_char() override {
    if (_next < _text.size()) return _text[_next++];
    if (_next++ > _text.size()) ++reads_past_end;
    return end_of_source();
  }
  std::string _text;
  std::size_t _next = 0;
};

// A value as a short text: its type's tag, then what the writer writes of it.
std::string shown(qmgl_value const& v) {
  static char const* const tags[] = {"null", "EOI", "EOL", "b:", "b3:", "i:", "s:", "u:", "x:"};
  if (type_of(v) == array_type) {
    std::string s = "(";
    for (unsigned i = 0; i < v.as_value_array().get_size(); ++i)
      s += (i == 0 ? "" : ",") + shown(v.as_value_array()[i]);
    return s + ")";
  }
  std::string const text = type_of(v) <= eol_type ? "" : text_of(v);
  return tags[type_of(v)] + text.substr(0, text.find_last_not_of(' ') + 1);
}

// Every read until the input's end marker, which is left out: each value shown, and each
// failure as 'T' for an invalid token or 'E' for an unexpected end, its message (framed as
// "\r\nMESSAGE\r\n" or "\r\nMESSAGE\r\nbefore: <CONTEXT>\r\n") as MESSAGE or MESSAGE<CONTEXT>,
// the file when it is not the reader's, and the value left when that is not NULL.
std::string reads(qmgl_input& in, unsigned end_marker) {
  std::string seen;
  for (int i = 0; i < 16; ++i) {
    qmgl_value v = qmgl_value("old");
    raised const r = raise_of([&] { in >> v; });
    if (!r.thrown && type_of(v) == end_marker && in.empty()) break;
    seen += seen.empty() ? "" : " ";
    if (!r.thrown) {
      seen += shown(v);
      continue;
    }
    bool const token = r.type == typeid(exc_invalid_token_t);
    EXPECT_EQ(r.code, token ? 0x20030010u : 0x2003000Bu) << r.message;
    std::string m = r.message;
    std::size_t const before = m.find("\r\nbefore: <");
    if (token && before != std::string::npos) m.replace(before, 11, "<");
    bool const framed = m.size() >= 4 && m.rfind("\r\n", 0) == 0 && m.rfind("\r\n") == m.size() - 2;
    seen += token ? "T:" : r.type == typeid(exc_unexpected_end_of_input_t) ? "E:" : "?:";
    seen += framed ? m.substr(2, m.size() - 4) : "?" + r.message;
    if (std::string(r.file) != "src/qmgl/qmgl_value") seen += std::string("@") + r.file;
    if (!v.is_null()) seen += "=" + shown(v);
  }
  EXPECT_FALSE(in.throw_on_eoi(true)) << "reading switches throw-on-end off";
  return seen;
}

std::string const z80(80, 'z'), s80(80, ' '), deep(100000, '('), closing(100000, ')');
// A string constant longer than a file's 512-byte reads, a doubled quote split by one of them.
std::string const long_quoted = [] {
  std::string text = "'";
  for (int i = 0; i < 100; ++i)
    text += "abcdefghijklmn''";  // in a file, bytes 511 and 512 are a pair
  return text + "'";
}();
std::string const sq = "E:unterminated string constant (unmatched single quote)";
std::string const dq = "E:unterminated string constant (unmatched double quote)";

// Kinds: 's' strings, apart at each '|', each read again as an RPC message, which must end the
// same way without a read beyond its end; 'F' a file, which ends in 0xFF and goes on after a NUL.
struct read_case {
  char kind;
  std::string text;
  std::string expected;
} const read_cases[] = {
    {'s', "", ""},
    {'s', " \t\n\v\f\r ", ""},
    {'s', "\xff", "EOI"},
    {'F', "", ""},
    {'F', " \r\n", ""},
    {'s', "true True TRUE tRuE false FALSE fAlSe",
     "b:true b:true b:true b:true b:false b:false b:false"},
    {'s', "unknown UNKNOWN null NULL Null", "b3:unknown b3:unknown null null null"},
    {'s', "nul|nulls x|true.x|truetruetrue",
     "T:unrecognized keyword<> | T:unrecognized keyword< x> | T:unrecognized keyword<> | "
     "T:unrecognized keyword<>"},
    {'s', "true#ab;", "b:true x:#ab T:unrecognized input<>"},
    {'s', "'it''s' '' '''' 'two\r\nlines\t\"x\"' '\x80\xfe\xff'",
     "s:'it''s' s:'' s:'''' s:'two\r\nlines\t\"x\"' s:'\x80\xfe\xff'"},
    {'s', "\"a\"\"b\" \"it's\" \"\" \"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"",
     "u:\"a\"\"b\" u:\"it's\" u:\"\" u:\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\""},
    {'s', "'a'true\"b\",", "s:'a' b:true u:\"b\" T:unrecognized input<>"},
    {'s', "'abc|\"abc", sq + " | " + dq},
    {'s', "\"\xc3\"", "E:?exc_unexpected_end_of_input@src/qmgl/qmgl_iconv"},
    {'s', "-12 +7 0 007 \t42\t 2147483647 -2147483648 2147483648 4294967295 4294967297",
     "i:-12 i:7 i:0 i:7 i:42 i:2147483647 i:-2147483648 i:-2147483648 i:-1 i:1"},
    {'s', "-4294967295 99999999999999999999 12,", "i:1 i:1661992959 i:12 T:unrecognized input<>"},
    {'s', "- 7|12x4|12#4|\x80 1",
     "T:unrecognized value starting with +|-<7> | T:illegal input<4> | T:illegal input<4> | "
     "T:unrecognized value< 1>"},
    {'s', "#00ab #ABC #aBcD09Ff # #ab'x' #", "x:#00ab x:#ab x:#abcd09ff x:# x:#ab s:'x' x:#"},
    {'s', "#0g|#abg12 x|#abc!|#ab\377cd",
     "T:illegal input<> | T:illegal input<12 x> | T:illegal input<> | T:illegal input<cd>"},
    {'s', "() (1, 'a') ((1,2),3) ( 1 ,\r\n2\t) (1,((2,3),4),5)",
     "() (i:1,s:'a') (i:1,i:2,i:3) (i:1,i:2) (i:1,i:2,i:3,i:4,i:5)"},
    {'s', "(()) ((),1,(),2,()) (1, ( ( 2 ) ) )(1)(2) 3", "() (i:1,i:2) (i:1,i:2) (i:1) (i:2) i:3"},
    {'s', "( )|( |(1 2)|(1,)",
     "T:unrecognized input<>=() | T:unrecognized input<>=() | T:unrecognized input<)>=(i:1) | "
     "T:unrecognized input<>=(i:1)"},
    {'s', "(1;2)|((1) 2)|(1|(1,",
     "T:unrecognized input<2)>=(i:1) | T:unrecognized input<)>=(i:1) | T:unrecognized "
     "input<>=(i:1) | T:unrecognized input<>=(i:1)"},
    {'s', "(1, (2, 3, 'x), 4)", sq + "=(i:1,i:2,i:3)"},
    {'s', "(1, 2, nope)", "T:unrecognized keyword<)>=(i:1,i:2)"},
    {'s', deep + "7" + closing + deep + closing, "(i:7) ()"},
    {'s', deep, "T:unrecognized input<>=()"},
    {'s', "12x" + z80 + "more", "T:illegal input<" + z80 + " ...> T:unrecognized keyword<>"},
    {'s', "12x" + z80 + "|12x" + z80.substr(1),
     "T:illegal input<" + z80 + " ...> | T:illegal input<" + z80.substr(1) + ">"},
    {'s', "12x" + s80 + "7", "T:illegal input<" + s80 + " ...> i:7"},
    {'s', long_quoted, "s:" + long_quoted},
    {'F', long_quoted + " 1 ", "s:" + long_quoted + " i:1"},
    {'F', "'abc", sq},
    {'F', "\"abc", dq},
    {'F', "#abcd", "x:#abcd"},
    {'F', "12", "T:illegal input<>"},
    {'F', "12x abc", "T:illegal input< abc>"},
    {'F', "(1, 'a'", "T:unrecognized input<>=(i:1,s:'a')"},
    {'F', "true (null)", "b:true (null)"},
    {'F', "'a\377b' #ab\377", "s:'a\377b' T:illegal input<>"},
    {'F', std::string("(\0, 1) (\0)(", 11), "(EOL,i:1) (EOL) T:unrecognized input<>=()"},
    {'F', std::string("5\0 7 ", 5), "i:5 EOL i:7"},
};

TEST(ValueReader, ReadsValuesAndReportsErrorsWithTheirContext) {
  temp_dir dir;
  std::string const name = dir.file("values.txt");
  for (read_case const& c : read_cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    std::string seen;
    if (c.kind == 'F') {
      write_file(name, c.text);
      qmgl_input_file in(name.c_str(), qmgl_file::deny_none);
      seen = reads(in, eoi_type);
    }
    for (std::size_t at = 0, bar = 0; c.kind == 's' && at <= c.text.size(); at = bar + 1) {
      bar = std::min(c.text.find('|', at), c.text.size());
      std::string const part = c.text.substr(at, bar - at);
      qmgl_input_str in(part.c_str());
      std::string const got = reads(in, eol_type);
      message_input message(part);
      EXPECT_EQ(reads(message, eol_type), got);
      EXPECT_EQ(message.reads_past_end, 0);
      seen += (at == 0 ? "" : " | ") + got;
    }
    EXPECT_EQ(seen, c.expected);
  }
}

// Every byte: as the first character of a value, and after a number, where it either ends it
// (a delimiter) or makes it illegal.
TEST(ValueReader, EveryByteAsAValueStartAndAfterANumber) {
  std::string const delimiters(" \t\n\v\f\r(){},.;:*=<>%+-'\"");
  std::string const stray("(%)*,.:;<=>{}");
  for (int b = 1; b < 256; ++b) {
    SCOPED_TRACE(b);
    char const c = static_cast<char>(b);
    bool const letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    std::string const text(1, c), after_text = std::string("1") + c;  // outlive their inputs
    qmgl_input_str alone(text.c_str());
    std::string want = "T:unrecognized value<>";
    if (c >= '0' && c <= '9')
      want = "i:" + std::string(1, c);
    else if (std::string(" \t\n\v\f\r").find(c) != std::string::npos)
      want = "";
    else if (c == '#' || b == 0xFF)
      want = b == 0xFF ? "EOI" : "x:#";
    else if (c == '\'' || c == '"')
      want = c == '"' ? dq : sq;
    else if (c == '+' || c == '-')
      want = "T:unrecognized value starting with +|-<>";
    else if (letter)
      want = "T:unrecognized keyword<>";
    else if (stray.find(c) != std::string::npos)
      want = c == '(' ? "T:unrecognized input<>=()" : "T:unrecognized input<>";
    EXPECT_EQ(reads(alone, eol_type), want);

    qmgl_input_str after_number(after_text.c_str());
    std::string const second = reads(after_number, eol_type);
    if (delimiters.find(c) != std::string::npos || (c >= '0' && c <= '9'))
      EXPECT_EQ(second.substr(0, 3), "i:1");
    else
      EXPECT_EQ(second, "T:illegal input<>");
  }
}

TEST(ValueReader, FirstReadsOnSeveralThreads) {
  std::vector<std::future<std::string>> readers;
  for (int t = 0; t < 4; ++t)
    readers.push_back(std::async(std::launch::async, [] {
      qmgl_input_str in("(1, 2 , #ab, 'x') 3");
      return reads(in, eol_type);
    }));
  for (std::future<std::string>& r : readers) {
    ASSERT_EQ(r.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(r.get(), "(i:1,i:2,x:#ab,s:'x') i:3");
  }
}

// A random value of any type, arrays nested up to three deep among them.
qmgl_value random_value(std::mt19937& random, int depth = 0) {
  auto pick = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
  // Bytes 1 to 255, quotes often; some texts long enough for the writer's and the reader's
  // block steps.
  std::string text(pick(pick(8) == 0 ? 300 : 12), ' ');
  for (char& c : text)
    c = pick(4) == 0 ? "'\"\r\n"[pick(4)] : static_cast<char>(1 + pick(255));
  std::basic_string<unsigned short> wide;  // units that survive UTF-8: no 0, surrogates in pairs
  for (unsigned i = pick(10); i > 0; --i) {
    unsigned const u = pick(4) == 0 ? "\"'a "[pick(4)] : 1 + pick(pick(2) == 0 ? 0x7F : 0xF7FF);
    if (u >= 0xD800 && u < 0xDC00 && pick(2) == 0)
      wide += {static_cast<unsigned short>(u), static_cast<unsigned short>(0xDC00 + pick(0x400))};
    else
      wide += static_cast<unsigned short>(u < 0xD800 ? u : u + 0x800);
  }
  switch (pick(depth < 3 ? 8 : 7)) {
    case 0:
      return qmgl_value();
    case 1:
      return qmgl_value(pick(2) == 1);
    case 2:
      return qmgl_value(static_cast<qmgl_bool3_value>(static_cast<int>(pick(3)) - 1));
    case 3:
      return qmgl_value(static_cast<int>(random()));
    case 4:
      return qmgl_value(text.c_str());
    case 5:
      return qmgl_value(wide.c_str());
    case 6:
      return bin(std::vector<unsigned char>(text.begin(), text.end()));
    default: {
      qmgl_value_array a;
      for (unsigned i = pick(5); i > 0; --i) {
        a += qmgl_value();  // through an element slot, so that inner arrays stay nested
        a[a.get_size() - 1] = random_value(random, depth + 1);
      }
      return qmgl_value(a);
    }
  }
}

// What reading gives back for a written value: BOOL3 false and true as BOOL, arrays flat.
void add_read_form(qmgl_value const& v, qmgl_value_array& into) {
  if (v.is_value_array()) {
    for (unsigned i = 0; i < v.as_value_array().get_size(); ++i)
      add_read_form(v.as_value_array()[i], into);
  } else if (type_of(v) == bool3_type && v.as_bool3() != qmgl_bool3(qmgl_bool3_unknown)) {
    into += qmgl_value(v.as_bool());
  } else {
    into += v;
  }
}

TEST(ValueReader, WrittenValuesReadBack) {
  std::mt19937 random(20240611);
  std::vector<qmgl_value> written;
  qmgl_ntarray_of<char, 0> text;
  qmgl_output_str out(text);
  for (int i = 0; i < 3000; ++i) {
    written.push_back(random_value(random));
    written.back().stream_out(out);
  }
  qmgl_input_str in(text);
  for (qmgl_value const& w : written) {
    qmgl_value_array form;
    add_read_form(w, form);
    qmgl_value back;
    in >> back;
    ASSERT_EQ(shown(back), w.is_value_array() ? shown(qmgl_value(form)) : shown(form[0]));
  }
  qmgl_value end;
  in >> end;
  EXPECT_EQ(type_of(end), eol_type);
  qmgl_input_str eoi("\xff");
  eoi >> end;
  EXPECT_EQ(text_of(end), "-1  ") << "the end of input writes a number";
}

}  // namespace
