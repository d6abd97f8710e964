// Making and looking at values in tests.
//
//   qmgl_value const a = array_of({1, "a", bin({0x00, 0xab})});
//   EXPECT_EQ(text_of(a), "(1  , 'a' , #00ab )  ");
//   qmgl_value const w = qmgl_value(wide(u"x"));   // UNI x

#ifndef WYGL_TESTS_SUPPORT_VALUE_HELPERS_H
#define WYGL_TESTS_SUPPORT_VALUE_HELPERS_H

#include <initializer_list>
#include <string>
#include <vector>

#include <wygl/qmgl_output.h>
#include <wygl/qmgl_value.h>

// An output stream that collects every character written, NUL included.
class text_sink : public qmgl_output_imp {
 public:
  std::string text;

 private:
  void really_put_char(char c) override { text += c; }
};

// The text a value writes, every character of it.
inline std::string text_of(qmgl_value const& v) {
  text_sink out;
  v.stream_out(out);
  return out.text;
}

inline std::string text_of(qmgl_value_array const& a) {
  text_sink out;
  out << a;
  return out.text;
}

// A UTF-16 literal as the units a UNI value takes.
inline unsigned short const* wide(char16_t const* text) {
  return reinterpret_cast<unsigned short const*>(text);
}

inline qmgl_refcounted_vector_of<unsigned char> bytes_of(std::vector<unsigned char> const& b) {
  return qmgl_refcounted_vector_of<unsigned char>(b.data(), static_cast<unsigned>(b.size()));
}

// A BIN value of the given bytes.
inline qmgl_value bin(std::vector<unsigned char> const& b) {
  return qmgl_value(bytes_of(b));
}

// The array of the given values, in order (an array among them is appended flat).
inline qmgl_value_array array_list(std::initializer_list<qmgl_value> values) {
  qmgl_value_array a;
  for (qmgl_value const& v : values)
    a += v;
  return a;
}

// A VALUE_ARRAY value of the given values.
inline qmgl_value array_of(std::initializer_list<qmgl_value> values) {
  return qmgl_value(array_list(values));
}

// The bytes of a byte vector.
inline std::vector<unsigned char> bytes_in(qmgl_refcounted_vector_of<unsigned char> const& v) {
  unsigned char const* const p = v;
  return p == nullptr ? std::vector<unsigned char>()
                      : std::vector<unsigned char>(p, p + v.get_size());
}

#endif  // WYGL_TESTS_SUPPORT_VALUE_HELPERS_H
