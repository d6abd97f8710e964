#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_output.h>
#include <wygl/qmgl_value.h>

#include "support/raised.h"
#include "support/value_helpers.h"

namespace {

TEST(ValueWriter, EveryTypeHasItsText) {
  qmgl_value_array nested = array_list({0, 2});
  nested[0] = array_list({1});  // an array in an array, as only operator[] makes one
  // 600 bytes that take every value: "#", 1200 digits with no break at any chunk boundary.
  std::vector<unsigned char> many(600);
  std::string many_text = "#";
  for (unsigned i = 0; i < many.size(); ++i) {
    many[i] = static_cast<unsigned char>(i * 7);
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", many[i]);
    many_text += digits;
  }
  struct written {
    qmgl_value value;
    std::string text;
    unsigned length;
  };
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
      {bin(many), many_text + " ", 1201},
      {array_of({1, "a"}), "(1  , 'a' )  ", 6},
      {array_of({}), "()  ", 2},
      {array_of({1, "ab"}), "(1  , 'ab' )  ", 7},
      {array_of({qmgl_value()}), "(null )  ", 6},
      {qmgl_value(nested), "((1  )  , 2  )  ", (3 + 2) + (1 + 2)},
  };
  for (written const& w : table) {
    EXPECT_EQ(text_of(w.value), w.text);
    EXPECT_EQ(w.value.output_length(), w.length) << w.text;
  }
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
  EXPECT_EQ(raise_of([&] { bin({1, 2, 3}).stream_out(out); }).type, typeid(exc_hardware_error_t));
  EXPECT_EQ(out.text, "#010");
  failing_sink array_out(6);
  EXPECT_EQ(raise_of([&] {
              array_of({10, 20}).stream_out(array_out);
            }).type,
            typeid(exc_hardware_error_t));
  EXPECT_EQ(array_out.text, "(10  ,");
}

}  // namespace
