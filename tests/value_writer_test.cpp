#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_output.h>
#include <wygl/qmgl_value.h>

#include "support/raised.h"
#include "support/value_helpers.h"

namespace {

struct written {
  qmgl_value value;
  std::string text;
  unsigned length;
};

TEST(ValueWriter, EveryTypeHasItsText) {
  std::vector<written> const table = {
      {qmgl_value(), "null ", 4},
      {qmgl_value(true), "true ", 4},
      {qmgl_value(false), "false ", 5},
      {qmgl_value(qmgl_bool3_true), "true ", 4},
      {qmgl_value(qmgl_bool3_false), "false ", 5},
      {qmgl_value(qmgl_bool3_unknown), "unknown ", 5},
      {qmgl_value(0), "0  ", 1},
      {qmgl_value(-12), "-12  ", 3},
      {qmgl_value(-2147483647 - 1), "-2147483648  ", 11},
      {qmgl_value(2147483647), "2147483647  ", 10},
      {qmgl_value("it's"), "'it''s' ", 4},
      {qmgl_value(""), "'' ", 0},
      {qmgl_value("a\"b"), "'a\"b' ", 3},
      {qmgl_value(wide(u"a\"b")), "\"a\"\"b\"  ", 4},
      {qmgl_value(wide(u"")), "\"\"  ", 0},
      {qmgl_value(wide(u"it's")), "\"it's\"  ", 4},
      {qmgl_value(wide(u"\u00e9\u20ac")), "\"\xc3\xa9\xe2\x82\xac\"  ", 5},
      {bin({0x00, 0xAB}), "#00ab ", 5},
      {bin({}), "# ", 1},
      {qmgl_value(qmgl_refcounted_vector_of<unsigned char>()), "# ", 1},
      {bin({0x0F, 0xF0, 0x7F, 0x80}), "#0ff07f80 ", 9},
      {array_of({1, "a"}), "(1  , 'a' )  ", 6},
      {array_of({}), "()  ", 2},
      {array_of({1, "ab"}), "(1  , 'ab' )  ", 7},
      {array_of({qmgl_value()}), "(null )  ", 6},
  };
  for (written const& w : table) {
    EXPECT_EQ(text_of(w.value), w.text);
    EXPECT_EQ(w.value.output_length(), w.length) << w.text;
  }
}

TEST(ValueWriter, NestedArraysKeepEveryInnerSpace) {
  qmgl_value_array a;
  a += qmgl_value(0);
  a[0] = array_list({1});
  a += qmgl_value(2);
  qmgl_value const v(a);
  EXPECT_EQ(text_of(v), "((1  )  , 2  )  ");
  EXPECT_EQ(v.output_length(), (3u + 2) + (1 + 2));
}

TEST(ValueWriter, LongByteStringsHaveNoBreak) {
  std::vector<unsigned char> bytes(600);
  std::string expected = "#";
  for (unsigned i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<unsigned char>(i * 7);
    static char const digits[] = "0123456789abcdef";
    expected += digits[bytes[i] >> 4];
    expected += digits[bytes[i] & 15];
  }
  expected += ' ';
  qmgl_value const v = bin(bytes);
  std::string const text = text_of(v);
  EXPECT_EQ(text.size(), 1202u);
  EXPECT_EQ(text, expected);
  EXPECT_EQ(v.output_length(), 1201u);
}

TEST(ValueWriter, WritesThroughTheStreamsEcho) {
  qmgl_ntarray_of<char, 0> text;
  qmgl_output_str out(text);
  text_sink echo;
  out.echo_to(echo);
  array_of({bin({0xAB}), qmgl_value(wide(u"w"))}).stream_out(out);
  EXPECT_STREQ(text, "(#ab , \"w\"  )  ");
  EXPECT_EQ(echo.text, "(#ab , \"w\"  )  ");
}

// A stream that fails once a given number of characters are written.
class failing_sink : public qmgl_output_imp {
 public:
  explicit failing_sink(unsigned room) : room_(room) {}
  std::string text;

 private:
  void really_put_char(char c) override {
    if (text.size() == room_) throw exc_hardware_error_t("tests/value_writer", __LINE__, "full");
    text += c;
  }
  unsigned room_;
};

TEST(ValueWriter, StreamFailuresPassOutWithPartOfTheText) {
  failing_sink out(4);
  raised const r = raise_of([&] { bin({1, 2, 3}).stream_out(out); });
  EXPECT_EQ(r.type, typeid(exc_hardware_error_t));
  EXPECT_EQ(out.text, "#010");

  failing_sink array_out(6);
  raised const r2 = raise_of([&] { array_of({10, 20}).stream_out(array_out); });
  EXPECT_EQ(r2.type, typeid(exc_hardware_error_t));
  EXPECT_EQ(array_out.text, "(10  ,");
}

}  // namespace
