// Values: bodies, types, texts, access, changes and comparison; value arrays and byte vectors.

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_refcounted_vector.h>
#include <wygl/qmgl_value.h>
#include <wygl/qmgl_value_array.h>

#include "support/raised.h"
#include "support/trace_capture.h"
#include "support/value_helpers.h"

namespace {

using bytes = qmgl_refcounted_vector_of<unsigned char>;

// A raised exception of src/qmgl/qmgl_value; each exception class has its own code.
void expect_raised(raised const& r, std::uint32_t code, std::string const& message) {
  EXPECT_EQ(r.code, code);
  EXPECT_STREQ(r.file, "src/qmgl/qmgl_value");
  EXPECT_EQ(r.message, message);
}

constexpr std::uint32_t invalid_cast = 0x20030015;
constexpr std::uint32_t invalid_operation = 0x20030016;
constexpr std::uint32_t should_not_execute = 0x20030004;
constexpr std::uint32_t assertion_failed = 0x20030000;

// v.assign over the arguments that follow; the int after them must still be 42.
void assign(qmgl_value& v, ...) {
  va_list args;
  va_start(args, v);
  try {
    v.assign(args);
  } catch (...) {
    va_end(args);
    throw;
  }
  EXPECT_EQ(va_arg(args, int), 42) << "the arguments taken";
  va_end(args);
}

TEST(Value, SharedBodiesAreOnePerKindAndOwnedBodiesOnePerValue) {
  static_assert(sizeof(qmgl_value) == sizeof(void*), "a handle is one pointer");
  qmgl_value reassigned(5);
  reassigned = true;
  // Each kind made two ways: the same body, and another for every other kind.
  std::pair<qmgl_value, qmgl_value> const kinds[] = {
      {qmgl_value(), qmgl_value()},
      {qmgl_value(false), qmgl_value(false)},
      {reassigned, qmgl_value(true)},
      {qmgl_value(qmgl_bool3_false), qmgl_value(qmgl_bool3(false))},
      {qmgl_value(qmgl_bool3_true), qmgl_value(qmgl_bool3(true))},
      {qmgl_value(qmgl_bool3_unknown), qmgl_value(qmgl_bool3(qmgl_bool3_unknown))},
  };
  for (std::size_t i = 0; i < std::size(kinds); ++i)
    for (std::size_t j = 0; j < std::size(kinds); ++j)
      EXPECT_EQ(kinds[i].first._body == kinds[j].second._body, i == j) << i << " / " << j;
  qmgl_value_base* const body = reassigned._body;
  expect_raised(raise_of([body] { delete body; }), should_not_execute, "exc_should_not_execute");
  EXPECT_EQ(qmgl_value(true)._body, body) << "the shared body is intact";

  // Owned bodies: a copy has its own, and shares the payload buffer.
  qmgl_value const s("text");
  EXPECT_NE(qmgl_value(s)._body, s._body);
  EXPECT_EQ(qmgl_value(s).as_charp(), s.as_charp());
}

TEST(Value, TypeTestsTextsAccessAndRefusals) {
  qmgl_value_array nested = array_list({0, 2});
  nested[0] = array_list({1});  // an array in an array, as only operator[] makes one
  unsigned short const list[] = {'a', 0, 'b', 'c', 0, 0};  // a, bc and the empty end
  unsigned short const* p = list;
  struct expectation {
    qmgl_value value;
    unsigned code;
    std::string tests;
    bool as_bool;
    std::string text;
    unsigned length;  // output_length
  };
  std::vector<expectation> const table = {
      {qmgl_value(), 0, "null", false, "null ", 4},
      {qmgl_value(true), 3, "bool bool3", true, "true ", 4},
      {qmgl_value(false), 3, "bool bool3", false, "false ", 5},
      {qmgl_value(qmgl_bool3_unknown), 4, "bool3", false, "unknown ", 5},
      {qmgl_value(qmgl_bool3_true), 4, "bool3", true, "true ", 4},
      {qmgl_value(qmgl_bool3_false), 4, "bool3", false, "false ", 5},
      {qmgl_value(-2147483647 - 1), 5, "int", false, "-2147483648  ", 11},
      {qmgl_value("it's\"%"), 6, "charp str", false, "'it''s\"%' ", 6},
      {qmgl_value(wide(u"a\"b'%")), 7, "unicharp uni uni_ex", false, "\"a\"\"b'%\"  ", 6},
      {qmgl_value(wide(u"\u00e9\u20ac")), 7, "unicharp uni", false, "\"\xc3\xa9\xe2\x82\xac\"  ",
       5},
      {bin({0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}), 8, "binaryp bin", false,
       "#0123456789abcdef ", 17},
      {qmgl_value(bytes()), 8, "binaryp bin", false, "# ", 1},
      {array_of({}), 9, "value_array", false, "()  ", 2},
      {qmgl_value(&p), 9, "value_array", false, "(\"a\"  , \"bc\"  )  ", 7},
      {array_of({1, qmgl_value()}), 9, "value_array", false, "(1  , null )  ", 9},
      {qmgl_value(nested), 9, "value_array", false, "((1  )  , 2  )  ", (3 + 2) + (1 + 2)},
  };
  for (expectation const& e : table) {
    SCOPED_TRACE(e.text);
    qmgl_value const& v = e.value;
    bool const holds[] = {v.is_null(),       v.is_eoi(),   v.is_bool(),     v.is_bool3(),
                          v.is_int(),        v.is_charp(), v.is_unicharp(), v.is_binaryp(),
                          v.is_str(),        v.is_uni(),   v.is_uni_ex(),   v.is_bin(),
                          v.is_value_array()};
    char const* const names[] = {"null",   "eoi",      "bool",       "bool3", "int",
                                 "charp",  "unicharp", "binaryp",    "str",   "uni",
                                 "uni_ex", "bin",      "value_array"};
    std::string found;
    for (std::size_t i = 0; i < std::size(holds); ++i)
      if (holds[i]) found += (found.empty() ? "" : " ") + std::string(names[i]);
    EXPECT_EQ(found, e.tests);
    EXPECT_EQ(v._body->type_code(), e.code);
    EXPECT_EQ(v.as_bool(), e.as_bool) << "as_bool never refuses";
    EXPECT_EQ(text_of(v), e.text);
    EXPECT_EQ(v.output_length(), e.length);
    for (expectation const& other : table)
      EXPECT_EQ(v.is_same_type(other.value), e.code == other.code) << other.text;
  }
  EXPECT_EQ(p, list) << "the list pointer is not advanced";
  unsigned short const* none = nullptr;
  EXPECT_EQ(text_of(qmgl_value(&none)), "()  ");
  // A list of wide strings as bytes, units low byte first, each string and the list ended by 0.
  qmgl_value const euro = array_of({qmgl_value(wide(u"\u20ac")), qmgl_value(wide(u""))});
  EXPECT_EQ(bytes_in(euro.as_bytes()), (std::vector<unsigned char>{0xAC, 0x20, 0, 0, 0, 0, 0, 0}));
  EXPECT_STREQ(qmgl_value(static_cast<char const*>(nullptr)).as_charp(), "");
  EXPECT_STREQ(qmgl_value("it's").as_str(), "it's");
  EXPECT_EQ(bin({7}).as_binaryp()[0], 7);

  // Each accessor refuses another type with the records of its own tracepoint, 0x141F0100,
  // 0x141F0200, ... in this order; as_bool writes them but answers false.
  std::vector<std::tuple<std::function<void(qmgl_value const&)>, qmgl_value, char const*>> const
      refusals = {
          {[](qmgl_value const& v) { v.as_bool(); }, qmgl_value("1"), "STR not BOOL"},
          {[](qmgl_value const& v) { v.as_bool3(); }, qmgl_value(), "NULL not BOOL3"},
          {[](qmgl_value const& v) { v.as_int(); }, qmgl_value("1"), "STR not INT"},
          {[](qmgl_value const& v) { v.as_charp(); }, qmgl_value(1), "INT not STR"},
          {[](qmgl_value const& v) { v.as_unicharp(); }, qmgl_value("1"), "STR not UNI"},
          {[](qmgl_value const& v) { v.as_binaryp(); }, qmgl_value(), "NULL not BIN"},
          {[](qmgl_value const& v) { v.as_str(); }, qmgl_value(), "NULL not STR"},
          {[](qmgl_value const& v) { v.as_uni(); }, qmgl_value(), "NULL not UNI"},
          {[](qmgl_value const& v) { v.as_bin(); }, qmgl_value("1"), "STR not BIN"},
          {[](qmgl_value const& v) { v.as_bytes(); }, bin({0x61, 0, 0, 0}), "BIN not BIN"},
          {[](qmgl_value const& v) { v.as_value_array(); }, qmgl_value(), "NULL not VALUE_ARRAY"},
      };
  trace_capture capture(0x10000);
  for (std::size_t i = 0; i < refusals.size(); ++i) {
    auto const& [call, value, text] = refusals[i];
    SCOPED_TRACE(text);
    raised const result = raise_of([&] { call(value); });
    if (i == 0)
      EXPECT_FALSE(result.thrown);
    else
      expect_raised(result, invalid_cast, "exc_invalid_cast");
    std::uint32_t const tracepoint = 0x141F0100 + 0x100 * static_cast<unsigned>(i);
    EXPECT_EQ(
        capture.take(),
        (std::vector<captured_record>{
            text_record(0x062A0000, tracepoint, value._body, std::string("object type is ") + text),
            value_record(0x062B0000, tracepoint, value._body, 0),
        }));
  }
  EXPECT_EQ(qmgl_value(1).as_int(), 1);
  EXPECT_TRUE(capture.take().empty()) << "access that is answered writes nothing";
  // In an array, the first element that is not UNI refuses, as its as_unicharp does.
  qmgl_value const mixed = array_of({qmgl_value(wide(u"a")), 2});
  expect_raised(raise_of([&] { mixed.as_bytes(); }), invalid_cast, "exc_invalid_cast");
}

TEST(Value, ChangesGiveTheirResultOrRaiseAndKeepTheValue) {
  unsigned char const raw[] = {1, 2, 3};
  qmgl_bool3 const bad_bool3(static_cast<qmgl_bool3_value>(2));
  qmgl_value const null_value;
  qmgl_value_array const none;
  qmgl_value_array const one_two = array_list({1, 2});
  struct row {
    qmgl_value start;
    std::function<void(qmgl_value&)> call;
    unsigned code;     // the type code after it
    std::string text;  // the text after it
    std::uint32_t raised = 0;
    std::string message = "";
  };
  std::vector<row> const table = {
      {null_value, [](qmgl_value& v) { v = 3; }, 5, "3  "},
      {null_value, [](qmgl_value& v) { v = wide(u"w"); }, 7, "\"w\"  "},
      {null_value, [&](qmgl_value& v) { v = bin({1}); }, 8, "#01 "},
      {null_value, [&](qmgl_value& v) { v = one_two; }, 9, "(1  , 2  )  "},
      {qmgl_value(1), [](qmgl_value& v) { v = false; }, 3, "false "},
      {qmgl_value(1), [](qmgl_value& v) { v = qmgl_bool3(qmgl_bool3_unknown); }, 4, "unknown "},
      {qmgl_value(1), [](qmgl_value& v) { v = qmgl_bool3_true; }, 4, "true "},
      // Arguments that live inside the value itself; moves and swaps of bodies.
      {qmgl_value("in"), [](qmgl_value& v) { v = v.as_charp(); }, 6, "'in' "},
      {qmgl_value("s"), [](qmgl_value& v) { v = static_cast<qmgl_value const&>(v); }, 6, "'s' "},
      {qmgl_value("s"), [](qmgl_value& v) { v = std::move(*&v); }, 6, "'s' "},
      {qmgl_value("s"), [](qmgl_value& v) { qmgl_value(std::move(v)).swap(v); }, 6, "'s' "},
      {array_of({"first", 2}), [](qmgl_value& v) { v = v.as_value_array()[0]; }, 6, "'first' "},
      // Booleans that hold no state.
      {qmgl_value(5), [&](qmgl_value& v) { v = bad_bool3; }, 5, "5  ", assertion_failed,
       "assertion failed: b == qmgl_bool3(qmgl_bool3_false) || b == qmgl_bool3(qmgl_bool3_true) "
       "|| b == qmgl_bool3(qmgl_bool3_unknown)"},
      // assign takes one value of the value's own type from an argument list.
      {qmgl_value(0), [](qmgl_value& v) { assign(v, 7, 42); }, 5, "7  "},
      {qmgl_value(false), [](qmgl_value& v) { assign(v, 0x101, 42); }, 3, "true "},  // low byte
      {qmgl_value(qmgl_bool3_false),
       [](qmgl_value& v) { assign(v, qmgl_bool3(qmgl_bool3_unknown), 42); }, 4, "unknown "},
      {qmgl_value("old"), [](qmgl_value& v) { assign(v, "new", 42); }, 6, "'new' "},
      {qmgl_value(wide(u"old")), [](qmgl_value& v) { assign(v, wide(u"n\u00e9w"), 42); }, 7,
       "\"n\xc3\xa9w\"  "},
      {bin({}), [&](qmgl_value& v) { assign(v, raw, 3u, 42); }, 8, "#010203 "},
      {null_value, [](qmgl_value& v) { assign(v, 1, 42); }, 0, "null ", invalid_operation,
       "exc_invalid_operation"},
      {array_of({1}), [](qmgl_value& v) { assign(v, 1, 42); }, 9, "(1  )  ", 0x20030003,
       "exc_invariant_failed"},
      {qmgl_value(true), [](qmgl_value& v) { assign(v, 2, 42); }, 3, "true ", assertion_failed,
       "assertion failed: value == false || value == true"},
      {qmgl_value(qmgl_bool3_true), [&](qmgl_value& v) { assign(v, bad_bool3, 42); }, 4, "true ",
       assertion_failed,
       "assertion failed: value == qmgl_bool3(qmgl_bool3_false) || value == "
       "qmgl_bool3(qmgl_bool3_true) || value == qmgl_bool3(qmgl_bool3_unknown)"},
      // += makes an array of the value first and appends the elements of an array.
      {null_value, [](qmgl_value& v) { v += qmgl_value(1); }, 9, "(null , 1  )  "},
      {qmgl_value(3), [&](qmgl_value& v) { v += one_two; }, 9, "(3  , 1  , 2  )  "},
      {qmgl_value(7), [](qmgl_value& v) { (v += v) += v; }, 9, "(7  , 7  , 7  , 7  )  "},
      {array_of({}), [&](qmgl_value& v) { (v += qmgl_value(one_two)) += none; }, 9, "(1  , 2  )  "},
      // -= takes every element that compares true, and keeps those that compare unknown.
      {array_of({1, "1", 2, "x", 3}),
       [](qmgl_value& v) {
         v -= array_of({"x", 1, 3});
       },
       9, "('1' , 2  )  "},
      {array_of({true, qmgl_value(qmgl_bool3_true), false, qmgl_value(qmgl_bool3_unknown)}),
       [](qmgl_value& v) { v -= qmgl_value(true); }, 9, "(false , unknown )  "},
      {array_of({1, 2}), [&](qmgl_value& v) { (v -= none) -= qmgl_value(5); }, 9, "(1  , 2  )  "},
      {array_of({}), [](qmgl_value& v) { v -= qmgl_value(1); }, 9, "()  "},
      {array_of({null_value, 1, "x", null_value}), [](qmgl_value& v) { v -= v; }, 9,
       "(null , null )  "},
      {qmgl_value(1), [](qmgl_value& v) { v -= qmgl_value(1); }, 5, "1  ", should_not_execute,
       "exc_should_not_execute"},
      {qmgl_value(1), [&](qmgl_value& v) { v -= one_two; }, 5, "1  ", should_not_execute,
       "exc_should_not_execute"},
  };
  for (row const& r : table) {
    SCOPED_TRACE(text_of(r.start) + "-> " + r.text);
    qmgl_value v = r.start;
    qmgl_value_base* const body = v._body;
    raised const result = raise_of([&] { r.call(v); });
    EXPECT_EQ(result.thrown, r.raised != 0);
    if (result.thrown) {
      expect_raised(result, r.raised, r.message);
      EXPECT_EQ(v._body, body) << "the old body kept";
    }
    EXPECT_EQ(v._body->type_code(), r.code);
    EXPECT_EQ(text_of(v), r.text);
  }
}

// The six comparisons of a with b, in the order == != < > <= >=, as T (true), F (false),
// U (unknown) or X (exc_invalid_operation_t raised).
std::string comparisons(qmgl_value const& a, qmgl_value const& b) {
  using compare = std::function<qmgl_bool3()>;
  std::string results;
  for (compare const& c : {compare([&] { return a == b; }), compare([&] { return a != b; }),
                           compare([&] { return a < b; }), compare([&] { return a > b; }),
                           compare([&] { return a <= b; }), compare([&] { return a >= b; })}) {
    qmgl_bool3 result(qmgl_bool3_unknown);
    raised const r = raise_of([&] { result = c(); });
    if (r.thrown) expect_raised(r, invalid_operation, "exc_invalid_operation");
    results += r.thrown                                 ? 'X'
               : result == qmgl_bool3(qmgl_bool3_true)  ? 'T'
               : result == qmgl_bool3(qmgl_bool3_false) ? 'F'
                                                        : 'U';
  }
  return results;
}

TEST(ValueComparison, EveryPairOfTypes) {
  qmgl_value const yes(qmgl_bool3_true);
  qmgl_value const unknown(qmgl_bool3_unknown);
  // Each pair with the results that comparisons gives for it.
  std::vector<std::tuple<qmgl_value, qmgl_value, char const*>> const table = {
      {qmgl_value(5), qmgl_value(), "UUUUUU"},
      {qmgl_value(), array_of({}), "UUUUUU"},
      {qmgl_value(-1), qmgl_value(0), "FTTFTF"},  // signed
      {qmgl_value("ab"), qmgl_value("abc"), "FTTFTF"},
      {qmgl_value("\x80"), qmgl_value("a"), "FTTFTF"},                  // narrow text: signed bytes
      {qmgl_value(wide(u"a")), qmgl_value(wide(u"\u8000")), "FTTFTF"},  // wide: unsigned units
      // Byte strings: unsigned bytes, the first difference decides, a prefix is less.
      {bin({1, 2}), bin({1, 2, 0}), "FTTFTF"},
      {bin({0xFF}), bin({0x01, 0x00}), "FTFTFT"},  // unsigned
      {qmgl_value(qmgl_refcounted_vector_of<unsigned char>()), bin({}), "TFFFTT"},
      // Other types are unequal and unordered, but BOOL and BOOL3 compare together, ordered
      // unknown < false < true.
      {qmgl_value(1), qmgl_value("1"), "FTXXXX"},
      {qmgl_value(true), yes, "TFFFTT"},
      {unknown, qmgl_value(false), "FTTFTF"},
      {unknown, unknown, "TFFFTT"},  // an unknown held is a value, not a NULL
      {yes, unknown, "FTFTFT"},
      {qmgl_value(false), qmgl_value(true), "FTTFTF"},
      // Arrays compare true or false, never unknown.
      {array_of({qmgl_value()}), array_of({5}), "TFFFTT"},
      {array_of({1, 2}), array_of({1, 2, 3}), "FTTFTF"},
      {array_of({qmgl_value(), 1}), array_of({7, 2}), "FTTFTF"},  // unknown is passed over
      {array_of({1, 1}), array_of({2, "a"}), "FTTFTF"},           // decided before the mismatch
      {array_of({1}), array_of({"a"}), "FTXXXX"},
  };
  for (auto const& [a, b, results] : table)
    EXPECT_EQ(comparisons(a, b), results) << text_of(a) << "/ " << text_of(b);
}

TEST(ValueArray, IndexCopiesAndChangesThatReadTheirArgumentFirst) {
  qmgl_value_array a;
  qmgl_value_array const& constant = a;
  for (raised const& r : {raise_of([&] { a[0]; }), raise_of([&] { constant[0xFFFFFFFFu]; })}) {
    EXPECT_EQ(r.code, 0x2003000Cu);
    EXPECT_STREQ(r.file, "src/qmgl/qmgl_value_array");
    EXPECT_EQ(r.message, "exc_domain_overflow");
  }
  a = array_list({1, "two"});
  qmgl_value_array copy(a);
  EXPECT_NE(copy[0]._body, a[0]._body);
  copy[0] = 10;
  EXPECT_EQ(text_of(a), "(1  , 'two' ) ");
  EXPECT_EQ(text_of(copy), "(10  , 'two' ) ");
  std::string found;  // contains needs a true comparison
  for (qmgl_value const& v : {qmgl_value("two"), qmgl_value(true), qmgl_value(2), qmgl_value()})
    found += array_list({1, "two", qmgl_value(), true}).contains(v) ? 'T' : 'F';
  EXPECT_EQ(found, "TTFF");

  // Four values fill the first block: the fifth and the copies of the array itself move it.
  qmgl_value_array const four = array_list({1, 2, 3, 4});
  qmgl_value_array nested = array_list({0, 7, 8, 9});
  nested[0] = array_of({5, 6});
  struct change {
    qmgl_value_array start;
    std::function<void(qmgl_value_array&)> call;
    std::string text;
  };
  std::vector<change> const table = {
      {four, [](qmgl_value_array& v) { v += v[0]; }, "(1  , 2  , 3  , 4  , 1  ) "},
      {four, [](qmgl_value_array& v) { v += v; }, "(1  , 2  , 3  , 4  , 1  , 2  , 3  , 4  ) "},
      {four, [](qmgl_value_array& v) { v += qmgl_value(v); },
       "(1  , 2  , 3  , 4  , 1  , 2  , 3  , 4  ) "},
      {nested, [](qmgl_value_array& v) { v += v[0]; }, "((5  , 6  )  , 7  , 8  , 9  , 5  , 6  ) "},
      {array_list({1, 2, 1, 3}), [](qmgl_value_array& v) { v -= v[0]; }, "(2  , 3  ) "},
      {four, [](qmgl_value_array& v) { v = static_cast<qmgl_value_array const&>(v); },
       "(1  , 2  , 3  , 4  ) "},
      {four, [](qmgl_value_array& v) { v = qmgl_value_array(); }, "() "},
      {nested, [](qmgl_value_array& v) { v = v[0].as_value_array(); }, "(5  , 6  ) "},
  };
  for (change const& c : table) {
    qmgl_value_array v = c.start;
    c.call(v);
    EXPECT_EQ(text_of(v), c.text);
  }
  qmgl_value_base* const first = copy[0]._body;
  copy += four;
  EXPECT_EQ(copy[0]._body, first) << "moved, not copied";
}

TEST(ValueArray, ByteVectorsShareImmutableBodiesOnManyThreads) {
  unsigned char const raw[] = {0x01, 0x80, 0xFF};
  bytes const three(raw, 3);
  EXPECT_NE(static_cast<unsigned char const*>(three), raw) << "copied";
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&three] {
      for (int i = 0; i < 10000; ++i) {
        bytes copy = three;
        bytes another(copy);
        copy = another;
        copy = static_cast<bytes const&>(copy);
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(three._imp->count.value(), 1);
  bytes const two = bytes_of({0x0A, 0x0B});
  EXPECT_EQ(bytes_in(three + two), (std::vector<unsigned char>{0x01, 0x80, 0xFF, 0x0A, 0x0B}));
  EXPECT_EQ(bytes_in(three), (std::vector<unsigned char>{0x01, 0x80, 0xFF})) << "unchanged";
  bytes const none;
  EXPECT_EQ(static_cast<unsigned char const*>(none), nullptr);
  EXPECT_EQ((none + none).get_size(), 0u);
  EXPECT_EQ(bytes_in(none + two), bytes_in(two));
}

}  // namespace
