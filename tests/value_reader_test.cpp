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

enum type_code : unsigned {
  null_type = 0,
  eoi_type = 1,
  eol_type = 2,
  bool_type = 3,
  bool3_type = 4,
  int_type = 5,
  str_type = 6,
  uni_type = 7,
  bin_type = 8,
  array_type = 9,
};

unsigned type_of(qmgl_value const& v) {
  return v._body->type_code();
}

// A source that ends as a file does: its text, then the character 0xFF for ever.
class file_like_input : public qmgl_input_imp {
 public:
  explicit file_like_input(std::string text) : _text(std::move(text)) {}

 private:
  char really_get_char() override {
    if (_next == _text.size()) return end_of_source('\xff');
    return _text[_next++];
  }
  std::string _text;
  std::size_t _next = 0;
};

// A source that ends as an RPC message does: its text, then one NUL, after which the next
// message would have to be waited for. Every read beyond that NUL is counted.
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

qmgl_value read_from(qmgl_input& in) {
  qmgl_value v;
  in >> v;
  return v;
}

qmgl_value read_one(std::string const& text) {
  qmgl_input_str in(text.c_str());
  return read_from(in);
}

// Reading text fails: what was raised.
raised failure_of(std::string const& text) {
  qmgl_input_str in(text.c_str());
  qmgl_value v;
  return raise_of([&] { in >> v; });
}

std::string token_report(std::string const& message, std::string const& context) {
  return "\r\n" + message + "\r\nbefore: <" + context + ">\r\n";
}

void expect_invalid_token(std::string const& text, std::string const& message,
                          std::string const& context) {
  raised const r = failure_of(text);
  EXPECT_EQ(r.type, typeid(exc_invalid_token_t)) << text;
  EXPECT_EQ(r.message, token_report(message, context)) << text;
}

void expect_int(std::string const& text, int n) {
  qmgl_value const v = read_one(text);
  ASSERT_EQ(type_of(v), int_type) << text;
  EXPECT_EQ(v.as_int(), n) << text;
}

std::string str_of(qmgl_value const& v) {
  EXPECT_EQ(type_of(v), str_type);
  return v.is_str() ? std::string(v.as_charp()) : std::string();
}

std::u16string uni_of(qmgl_value const& v) {
  EXPECT_EQ(type_of(v), uni_type);
  return v.is_uni() ? std::u16string(reinterpret_cast<char16_t const*>(v.as_unicharp()))
                    : std::u16string();
}

std::vector<unsigned char> bin_of(qmgl_value const& v) {
  EXPECT_EQ(type_of(v), bin_type);
  return v.is_bin() ? bytes_in(v.as_bin()) : std::vector<unsigned char>();
}

// The INT elements of an array, or -1 for an element of another type.
std::vector<int> ints_of(qmgl_value const& v) {
  EXPECT_EQ(type_of(v), array_type);
  std::vector<int> ints;
  if (!v.is_value_array()) return ints;
  qmgl_value_array const& a = v.as_value_array();
  for (unsigned i = 0; i < a.get_size(); ++i)
    ints.push_back(a[i].is_int() ? a[i].as_int() : -1);
  return ints;
}

// The types of the elements of an array.
std::vector<unsigned> element_types(qmgl_value const& v) {
  EXPECT_EQ(type_of(v), array_type);
  std::vector<unsigned> types;
  if (!v.is_value_array()) return types;
  for (unsigned i = 0; i < v.as_value_array().get_size(); ++i)
    types.push_back(type_of(v.as_value_array()[i]));
  return types;
}

// Same type and content, and for arrays the same elements in the same way; NULLs match.
bool same_value(qmgl_value const& a, qmgl_value const& b) {
  if (type_of(a) != type_of(b)) return false;
  if (a.is_null()) return true;
  if (!a.is_value_array()) return (a == b).as_bool();
  qmgl_value_array const& x = a.as_value_array();
  qmgl_value_array const& y = b.as_value_array();
  if (x.get_size() != y.get_size()) return false;
  for (unsigned i = 0; i < x.get_size(); ++i)
    if (!same_value(x[i], y[i])) return false;
  return true;
}

TEST(ValueReader, EndsOfInputReadAsMarkers) {
  EXPECT_EQ(type_of(read_one("")), eol_type);
  EXPECT_EQ(type_of(read_one(" \t\n\v\f\r ")), eol_type);
  EXPECT_EQ(type_of(read_one("\xff")), eoi_type);

  file_like_input empty_file("");
  EXPECT_EQ(type_of(read_from(empty_file)), eoi_type);
  file_like_input blank_file(" \r\n");
  EXPECT_EQ(type_of(read_from(blank_file)), eoi_type);
  EXPECT_EQ(type_of(read_from(blank_file)), eoi_type);

  qmgl_input_str in("5");
  EXPECT_EQ(type_of(read_from(in)), int_type);
  EXPECT_EQ(type_of(read_from(in)), eol_type);
  EXPECT_EQ(type_of(read_from(in)), eol_type);
}

TEST(ValueReader, LeavesTheInputDeliveringItsEnd) {
  qmgl_input_str in("1");
  qmgl_value v;
  in >> v;
  EXPECT_FALSE(in.throw_on_eoi(true));
  // Switched off again: the end reads as EOL instead of raising.
  in >> v;
  EXPECT_EQ(type_of(v), eol_type);
  EXPECT_EQ(in.get_char(), '\0');
}

TEST(ValueReader, KeywordsInAnyCase) {
  for (char const* text : {"true", "True", "TRUE", "tRuE"}) {
    qmgl_value const v = read_one(text);
    EXPECT_EQ(type_of(v), bool_type) << text;
    EXPECT_TRUE(v.as_bool()) << text;
  }
  for (char const* text : {"false", "FALSE", "fAlSe"}) {
    qmgl_value const v = read_one(text);
    EXPECT_EQ(type_of(v), bool_type) << text;
    EXPECT_FALSE(v.as_bool()) << text;
  }
  for (char const* text : {"unknown", "UNKNOWN"}) {
    qmgl_value const v = read_one(text);
    EXPECT_EQ(type_of(v), bool3_type) << text;
    EXPECT_EQ(v.as_bool3(), qmgl_bool3(qmgl_bool3_unknown)) << text;
  }
  for (char const* text : {"null", "NULL", "Null"})
    EXPECT_EQ(type_of(read_one(text)), null_type) << text;

  expect_invalid_token("nul", "unrecognized keyword", "");
  expect_invalid_token("nulls x", "unrecognized keyword", " x");
  expect_invalid_token("true.x", "unrecognized keyword", "");
  expect_invalid_token("_true", "unrecognized keyword", "");
  expect_invalid_token("unknownx", "unrecognized keyword", "");
  expect_invalid_token("truetruetrue", "unrecognized keyword", "");
}

TEST(ValueReader, KeywordEndsAtAnyCharacterThatIsNoWordCharacter) {
  qmgl_input_str in("true#ab;");
  EXPECT_TRUE(read_from(in).as_bool());
  EXPECT_EQ(bin_of(read_from(in)), (std::vector<unsigned char>{0xAB}));
}

TEST(ValueReader, QuotedConstants) {
  EXPECT_EQ(str_of(read_one("'it''s'")), "it's");
  EXPECT_EQ(str_of(read_one("''")), "");
  EXPECT_EQ(str_of(read_one("''''")), "'");
  EXPECT_EQ(str_of(read_one(" 'two\r\nlines\t\"x\"' ")), "two\r\nlines\t\"x\"");
  EXPECT_EQ(str_of(read_one("'\x80\xfe\xff'")), "\x80\xfe\xff");
  EXPECT_EQ(uni_of(read_one("\"a\"\"b\"")), u"a\"b");
  EXPECT_EQ(uni_of(read_one("\"it's\"")), u"it's");
  EXPECT_EQ(uni_of(read_one("\"\"")), u"");
  EXPECT_EQ(uni_of(read_one("\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"")),
            u"\u00e9\u20ac\U0001F600");

  qmgl_input_str in("'a'true\"b\",");
  EXPECT_EQ(str_of(read_from(in)), "a");
  EXPECT_TRUE(read_from(in).as_bool());
  EXPECT_EQ(uni_of(read_from(in)), u"b");
  EXPECT_EQ(in.get_char(), ',');
}

TEST(ValueReader, UnterminatedQuotedConstants) {
  raised const single = failure_of("'abc");
  EXPECT_EQ(single.type, typeid(exc_unexpected_end_of_input_t));
  EXPECT_EQ(single.code, 0x2003000Bu);
  EXPECT_STREQ(single.file, "src/qmgl/qmgl_value");
  EXPECT_EQ(single.message, "\r\nunterminated string constant (unmatched single quote)\r\n");

  raised const doubled = failure_of("'it''");
  EXPECT_EQ(doubled.type, typeid(exc_unexpected_end_of_input_t));

  raised const wide = failure_of("\"abc");
  EXPECT_EQ(wide.type, typeid(exc_unexpected_end_of_input_t));
  EXPECT_EQ(wide.message, "\r\nunterminated string constant (unmatched double quote)\r\n");
}

TEST(ValueReader, WideTextCutInsideAUtf8SequenceFailsInTheConversion) {
  raised const r = failure_of("\"\xc3\"");
  EXPECT_EQ(r.type, typeid(exc_unexpected_end_of_input_t));
  EXPECT_STREQ(r.file, "src/qmgl/qmgl_iconv");
}

TEST(ValueReader, Integers) {
  expect_int("-12", -12);
  expect_int("+7", 7);
  expect_int("0", 0);
  expect_int("007", 7);
  expect_int("  42\t", 42);
  expect_int("2147483647", 2147483647);
  expect_int("-2147483648", -2147483647 - 1);
  expect_int("2147483648", -2147483647 - 1);
  expect_int("4294967295", -1);
  expect_int("4294967297", 1);
  expect_int("-4294967295", 1);
  expect_int("99999999999999999999", 1661992959);

  qmgl_input_str in("12,");
  EXPECT_EQ(read_from(in).as_int(), 12);
  EXPECT_EQ(in.get_char(), ',');

  expect_invalid_token("- 7", "unrecognized value starting with +|-", "7");
  expect_invalid_token("-x", "unrecognized value starting with +|-", "");
  expect_invalid_token("+", "unrecognized value starting with +|-", "");
  expect_invalid_token("12x", "illegal input", "");
  expect_invalid_token("12#4", "illegal input", "4");
}

TEST(ValueReader, ExceptionTextOfTheExample) {
  raised const r = failure_of("12x4");
  EXPECT_EQ(r.type, typeid(exc_invalid_token_t));
  EXPECT_EQ(r.code, 0x20030010u);
  EXPECT_STREQ(r.file, "src/qmgl/qmgl_value");
  EXPECT_EQ(r.message, "\r\nillegal input\r\nbefore: <4>\r\n");
}

// Every byte after a number either ends it (a delimiter) or makes it illegal.
TEST(ValueReader, DelimitersAreExactlyWhiteSpaceNulAndTheSeparators) {
  std::string const delimiters(" \t\n\v\f\r(){},.;:*=<>%+-'\"");
  for (int b = 1; b < 256; ++b) {
    if (b >= '0' && b <= '9') continue;
    std::string const text = std::string("1") + static_cast<char>(b);
    raised const r = failure_of(text);
    if (delimiters.find(static_cast<char>(b)) != std::string::npos) {
      EXPECT_FALSE(r.thrown) << "byte " << b;
      EXPECT_EQ(read_one(text).as_int(), 1) << "byte " << b;
    } else {
      EXPECT_EQ(r.message, token_report("illegal input", "")) << "byte " << b;
    }
  }
  expect_int("1", 1);
}

// What the first character of a value makes of it, for every byte.
TEST(ValueReader, FirstCharacterChoosesTheKind) {
  std::string const stray("%)*,.:;<=>{}");
  for (int b = 1; b < 256; ++b) {
    char const c = static_cast<char>(b);
    std::string const text(1, c);
    raised const r = failure_of(text);
    bool const letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    bool const white = std::string(" \t\n\v\f\r").find(c) != std::string::npos;
    if (c >= '0' && c <= '9') {
      EXPECT_EQ(read_one(text).as_int(), b - '0');
    } else if (white || c == '#' || b == 0xFF) {
      EXPECT_FALSE(r.thrown) << "byte " << b;
    } else if (c == '\'' || c == '"') {
      EXPECT_EQ(r.type, typeid(exc_unexpected_end_of_input_t)) << "byte " << b;
    } else if (c == '+' || c == '-') {
      EXPECT_EQ(r.message, token_report("unrecognized value starting with +|-", ""));
    } else if (letter) {
      EXPECT_EQ(r.message, token_report("unrecognized keyword", "")) << "byte " << b;
    } else if (c == '(' || stray.find(c) != std::string::npos) {
      EXPECT_EQ(r.message, token_report("unrecognized input", "")) << "byte " << b;
    } else {
      EXPECT_EQ(r.message, token_report("unrecognized value", "")) << "byte " << b;
    }
  }
  expect_invalid_token("}", "unrecognized input", "");
  expect_invalid_token("!", "unrecognized value", "");
  expect_invalid_token("\x80 1", "unrecognized value", " 1");
}

TEST(ValueReader, BinaryConstants) {
  EXPECT_EQ(bin_of(read_one("#00ab")), (std::vector<unsigned char>{0x00, 0xAB}));
  EXPECT_EQ(bin_of(read_one("#ABC")), (std::vector<unsigned char>{0xAB}));
  EXPECT_EQ(bin_of(read_one("#aBcD09Ff")), (std::vector<unsigned char>{0xAB, 0xCD, 0x09, 0xFF}));
  EXPECT_EQ(bin_of(read_one("# ")), std::vector<unsigned char>());
  EXPECT_EQ(bin_of(read_one("#")), std::vector<unsigned char>());

  qmgl_input_str in("#ab'x'");
  EXPECT_EQ(bin_of(read_from(in)), (std::vector<unsigned char>{0xAB}));
  EXPECT_EQ(str_of(read_from(in)), "x");
}

TEST(ValueReader, BinaryConstantsHoldOnlyHexadecimalDigits) {
  expect_invalid_token("#0g", "illegal input", "");
  expect_invalid_token("#abg12 x", "illegal input", "12 x");
  expect_invalid_token("#abc!", "illegal input", "");
  expect_invalid_token(
      "#ab\xff"
      "cd",
      "illegal input", "cd");
  expect_invalid_token("##", "illegal input", "");
}

TEST(ValueReader, Arrays) {
  qmgl_value const empty = read_one("()");
  EXPECT_EQ(type_of(empty), array_type);
  EXPECT_EQ(empty.as_value_array().get_size(), 0u);

  qmgl_value const mixed = read_one("(1, 'a')");
  ASSERT_EQ(type_of(mixed), array_type);
  ASSERT_EQ(mixed.as_value_array().get_size(), 2u);
  EXPECT_EQ(mixed.as_value_array()[0].as_int(), 1);
  EXPECT_EQ(str_of(mixed.as_value_array()[1]), "a");

  EXPECT_EQ(ints_of(read_one("((1,2),3)")), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(ints_of(read_one(" ( 1 ,\r\n2\t) ")), (std::vector<int>{1, 2}));
  EXPECT_EQ(ints_of(read_one("(1,((2,3),4),5)")), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(ints_of(read_one("(())")), std::vector<int>());
  EXPECT_EQ(ints_of(read_one("((),1,(),2,())")), (std::vector<int>{1, 2}));
  EXPECT_EQ(ints_of(read_one("(1, ( ( 2 ) ) )")), (std::vector<int>{1, 2}));

  qmgl_input_str in("(1)(2) 3");
  EXPECT_EQ(ints_of(read_from(in)), std::vector<int>{1});
  EXPECT_EQ(ints_of(read_from(in)), std::vector<int>{2});
  EXPECT_EQ(read_from(in).as_int(), 3);

  expect_invalid_token("( )", "unrecognized input", "");
  expect_invalid_token("(1 2)", "unrecognized input", ")");
  expect_invalid_token("(1,)", "unrecognized input", "");
  expect_invalid_token("(1;2)", "unrecognized input", "2)");
  expect_invalid_token("((1) 2)", "unrecognized input", ")");
  expect_invalid_token("(1", "unrecognized input", "");
}

TEST(ValueReader, ArraysNestToAnyDepth) {
  std::size_t const depth = 100000;
  std::string const deep = std::string(depth, '(') + "7" + std::string(depth, ')');
  EXPECT_EQ(ints_of(read_one(deep)), std::vector<int>{7});
  EXPECT_EQ(ints_of(read_one(std::string(depth, '(') + std::string(depth, ')'))),
            std::vector<int>());

  std::string const unclosed(depth, '(');
  qmgl_input_str in(unclosed.c_str());
  qmgl_value v;
  raised const r = raise_of([&] { in >> v; });
  EXPECT_EQ(r.message, token_report("unrecognized input", ""));
  ASSERT_EQ(type_of(v), array_type);
  EXPECT_EQ(v.as_value_array().get_size(), 0u);
}

TEST(ValueReader, ContextShowsAtMostEightyCharacters) {
  std::string const eighty(80, 'z');
  expect_invalid_token("12x" + eighty + "more", "illegal input", eighty + " ...");
  expect_invalid_token("12x" + eighty, "illegal input", eighty + " ...");
  expect_invalid_token("12x" + eighty.substr(1), "illegal input", eighty.substr(1));
  expect_invalid_token("!", "unrecognized value", "");

  // The context goes on from where the error stopped the read.
  std::string const spaced = "12x" + std::string(80, ' ') + "7";
  qmgl_input_str in(spaced.c_str());
  qmgl_value v = 5;
  EXPECT_TRUE(raise_of([&] { in >> v; }).thrown);
  EXPECT_EQ(type_of(v), null_type);
  EXPECT_EQ(read_from(in).as_int(), 7);
}

TEST(ValueReader, ReportsNeverReadBeyondTheEndOfAMessage) {
  for (char const* text :
       {"12x", "12x4", "'abc", "\"abc", "(1", "(1,", "(1 2", "-", "nul", "#1g", "}", "( "}) {
    message_input in(text);
    qmgl_value v;
    EXPECT_TRUE(raise_of([&] { in >> v; }).thrown) << text;
    EXPECT_EQ(type_of(read_from(in)), eol_type) << text;
    EXPECT_EQ(in.reads_past_end, 0) << text;
  }
  message_input values("(1, 'a', #ab) 5 true \"w\" null");
  for (int i = 0; i < 5; ++i)
    EXPECT_NE(type_of(read_from(values)), eol_type);
  EXPECT_EQ(type_of(read_from(values)), eol_type);
  EXPECT_EQ(values.reads_past_end, 0);
}

TEST(ValueReader, EndOfAFileInput) {
  file_like_input quoted("'abc");
  raised const r = raise_of([&] { read_from(quoted); });
  EXPECT_EQ(r.type, typeid(exc_unexpected_end_of_input_t));
  EXPECT_EQ(r.message, "\r\nunterminated string constant (unmatched single quote)\r\n");
  EXPECT_EQ(type_of(read_from(quoted)), eoi_type);

  file_like_input wide("\"abc");
  EXPECT_EQ(raise_of([&] { read_from(wide); }).type, typeid(exc_unexpected_end_of_input_t));

  file_like_input binary("#abcd");
  EXPECT_EQ(bin_of(read_from(binary)), (std::vector<unsigned char>{0xAB, 0xCD}));
  EXPECT_EQ(type_of(read_from(binary)), eoi_type);

  file_like_input number("12");
  EXPECT_EQ(raise_of([&] { read_from(number); }).message, token_report("illegal input", ""));
  EXPECT_EQ(type_of(read_from(number)), eoi_type);

  file_like_input context("12x abc");
  EXPECT_EQ(raise_of([&] { read_from(context); }).message, token_report("illegal input", " abc"));

  file_like_input open_array("(1, 'a'");
  EXPECT_EQ(raise_of([&] { read_from(open_array); }).message,
            token_report("unrecognized input", ""));

  // In a file a NUL byte is data: where an array element belongs it is an EOL element. The
  // file's end there still fails at once.
  temp_dir dir;
  std::string const name = dir.file("elements.txt");
  write_file(name, std::string("(\0, 1) (\0)(", 11));
  qmgl_input_file elements(name.c_str(), qmgl_file::deny_none);
  EXPECT_EQ(element_types(read_from(elements)), (std::vector<unsigned>{eol_type, int_type}));
  EXPECT_EQ(element_types(read_from(elements)), std::vector<unsigned>{eol_type});
  qmgl_value cut;
  EXPECT_EQ(raise_of([&] { elements >> cut; }).message, token_report("unrecognized input", ""));
  EXPECT_EQ(element_types(cut), std::vector<unsigned>());
  EXPECT_EQ(type_of(read_from(elements)), eoi_type);

  file_like_input words("true (null)");
  EXPECT_TRUE(read_from(words).as_bool());
  EXPECT_EQ(type_of(read_from(words).as_value_array()[0]), null_type);
  EXPECT_EQ(type_of(read_from(words)), eoi_type);
}

TEST(ValueReader, ByteFfInsideAFileIsData) {
  file_like_input in(
      "'a\xff"
      "b' #ab\xff");
  EXPECT_EQ(str_of(read_from(in)),
            "a\xff"
            "b");
  EXPECT_EQ(raise_of([&] { read_from(in); }).message, token_report("illegal input", ""));
}

TEST(ValueReader, FailedReadLeavesNullOrTheArraySoFar) {
  qmgl_input_str number("12x");
  qmgl_value v = qmgl_value("old");
  EXPECT_TRUE(raise_of([&] { number >> v; }).thrown);
  EXPECT_EQ(type_of(v), null_type);

  qmgl_input_str inner("(1, (2, 3, 'x), 4)");
  EXPECT_EQ(raise_of([&] { inner >> v; }).type, typeid(exc_unexpected_end_of_input_t));
  EXPECT_EQ(ints_of(v), (std::vector<int>{1, 2, 3}));

  qmgl_input_str cut("(1, 2,");
  EXPECT_EQ(raise_of([&] { cut >> v; }).message, token_report("unrecognized input", ""));
  EXPECT_EQ(ints_of(v), (std::vector<int>{1, 2}));

  qmgl_input_str keyword("(1, 2, nope)");
  EXPECT_TRUE(raise_of([&] { keyword >> v; }).thrown);
  EXPECT_EQ(ints_of(v), (std::vector<int>{1, 2}));
}

TEST(ValueReader, FirstReadsOnSeveralThreads) {
  auto read_many = [] {
    int sum = 0;
    for (int i = 0; i < 200; ++i) {
      qmgl_input_str in("(1, 2 , #ab, 'x') 3");
      qmgl_value v;
      in >> v >> v;
      sum += v.as_int();
    }
    return sum;
  };
  std::vector<std::future<int>> readers;
  for (int t = 0; t < 4; ++t)
    readers.push_back(std::async(std::launch::async, read_many));
  for (std::future<int>& r : readers) {
    ASSERT_EQ(r.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(r.get(), 600);
  }
}

// ---- round trip: what the writer writes reads back ----

class value_maker {
 public:
  explicit value_maker(std::uint32_t seed) : _random(seed) {}

  qmgl_value any(int depth = 0) {
    switch (pick(depth < 3 ? 10 : 9)) {
      case 0:
        return qmgl_value();
      case 1:
        return qmgl_value(pick(2) == 1);
      case 2: {
        qmgl_bool3_value const states[] = {qmgl_bool3_false, qmgl_bool3_true, qmgl_bool3_unknown};
        return qmgl_value(states[pick(3)]);
      }
      case 3:
      case 4:
        return qmgl_value(static_cast<int>(_random()));
      case 5:
        return qmgl_value(narrow_text().c_str());
      case 6:
        return qmgl_value(wide_text().c_str());
      case 7:
      case 8: {
        std::vector<unsigned char> bytes(pick(20));
        for (unsigned char& b : bytes)
          b = static_cast<unsigned char>(pick(256));
        return bin(bytes);
      }
      default: {
        qmgl_value_array a;
        unsigned const n = pick(5);
        for (unsigned i = 0; i < n; ++i) {
          // Through an element slot, so that inner arrays stay nested.
          a += qmgl_value();
          a[a.get_size() - 1] = any(depth + 1);
        }
        return qmgl_value(a);
      }
    }
  }

 private:
  unsigned pick(unsigned n) { return static_cast<unsigned>(_random() % n); }

  // Bytes 1 to 255, quotes often.
  std::string narrow_text() {
    std::string text(pick(12), ' ');
    for (char& c : text)
      c = pick(4) == 0 ? "'\"\r\n"[pick(4)] : static_cast<char>(1 + pick(255));
    return text;
  }

  // Units that survive UTF-8: no 0, surrogates only in pairs.
  std::basic_string<unsigned short> wide_text() {
    std::basic_string<unsigned short> text;
    unsigned const n = pick(10);
    for (unsigned i = 0; i < n; ++i) {
      switch (pick(4)) {
        case 0:
          text += static_cast<unsigned short>("\"'a "[pick(4)]);
          break;
        case 1:
          text += static_cast<unsigned short>(1 + pick(0x7F));
          break;
        case 2:
          text += static_cast<unsigned short>(0xD800 + pick(0x400));
          text += static_cast<unsigned short>(0xDC00 + pick(0x400));
          break;
        default: {
          unsigned const u = 0x80 + pick(0xFFFF - 0x80 - 0x800);
          text += static_cast<unsigned short>(u < 0xD800 ? u : u + 0x800);
        }
      }
    }
    return text;
  }

  std::mt19937 _random;
};

// What reading gives back for a written value: BOOL3 false and true as BOOL, arrays flat.
void add_read_form(qmgl_value const& v, qmgl_value_array& into);

qmgl_value read_form(qmgl_value const& v) {
  if (v.is_value_array()) {
    qmgl_value_array flat;
    add_read_form(v, flat);
    return qmgl_value(flat);
  }
  if (type_of(v) == bool3_type && v.as_bool3() != qmgl_bool3(qmgl_bool3_unknown))
    return qmgl_value(v.as_bool());
  return v;
}

void add_read_form(qmgl_value const& v, qmgl_value_array& into) {
  if (!v.is_value_array()) {
    into += read_form(v);
    return;
  }
  qmgl_value_array const& a = v.as_value_array();
  for (unsigned i = 0; i < a.get_size(); ++i)
    add_read_form(a[i], into);
}

TEST(ValueReader, WrittenValuesReadBack) {
  value_maker make(20240611);
  std::vector<qmgl_value> written;
  qmgl_ntarray_of<char, 0> text;
  qmgl_output_str out(text);
  for (int i = 0; i < 3000; ++i) {
    written.push_back(make.any());
    written.back().stream_out(out);
  }
  qmgl_input_str in(text);
  for (qmgl_value const& w : written) {
    qmgl_value const back = read_from(in);
    ASSERT_TRUE(same_value(back, read_form(w))) << text_of(w) << " read as " << text_of(back);
  }
  EXPECT_EQ(type_of(read_from(in)), eol_type);
}

TEST(ValueReader, WrittenThreeValuedBooleansReadBack) {
  qmgl_value const t = read_one(text_of(qmgl_value(qmgl_bool3_true)));
  EXPECT_EQ(type_of(t), bool_type);
  EXPECT_TRUE(t.as_bool());
  qmgl_value const f = read_one(text_of(qmgl_value(qmgl_bool3_false)));
  EXPECT_EQ(type_of(f), bool_type);
  EXPECT_FALSE(f.as_bool());
  qmgl_value const u = read_one(text_of(qmgl_value(qmgl_bool3_unknown)));
  EXPECT_EQ(type_of(u), bool3_type);
  EXPECT_EQ(u.as_bool3(), qmgl_bool3(qmgl_bool3_unknown));
}

TEST(ValueReader, EndOfInputWrittenReadsBackAsMinusOne) {
  std::string const written = text_of(read_one("\xff"));
  EXPECT_EQ(written, "-1  ");
  expect_int(written, -1);
}

}  // namespace
