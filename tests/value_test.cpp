// Values: bodies, type tests, access, changes, and comparison.

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_value.h>

#include "support/raised.h"
#include "support/trace_capture.h"
#include "support/value_helpers.h"

namespace {

// A raised exception of src/qmgl/qmgl_value; each exception class has its own code.
void expect_raised(raised const& r, std::uint32_t code, std::string const& message) {
  EXPECT_EQ(r.code, code);
  EXPECT_STREQ(r.file, "src/qmgl/qmgl_value");
  EXPECT_EQ(r.message, message);
}

constexpr std::uint32_t invalid_cast = 0x20030015;
constexpr std::uint32_t invalid_operation = 0x20030016;
constexpr std::uint32_t assertion_failed = 0x20030000;

// The names of the type tests that hold for v, in declaration order.
std::string true_tests(qmgl_value const& v) {
  bool const holds[] = {v.is_null(),   v.is_eoi(),      v.is_bool(),       v.is_bool3(), v.is_int(),
                        v.is_charp(),  v.is_unicharp(), v.is_binaryp(),    v.is_str(),   v.is_uni(),
                        v.is_uni_ex(), v.is_bin(),      v.is_value_array()};
  char const* const names[] = {"null",    "eoi", "bool", "bool3",  "int", "charp",      "unicharp",
                               "binaryp", "str", "uni",  "uni_ex", "bin", "value_array"};
  std::string found;
  for (std::size_t i = 0; i < std::size(holds); ++i)
    if (holds[i]) found += (found.empty() ? "" : " ") + std::string(names[i]);
  return found;
}

// A bool stored as the given byte. The sanitizers would stop the test at the load of such a
// bool, which is the point here.
#if defined(__GNUC__)
__attribute__((no_sanitize("undefined")))
#endif
qmgl_value
value_from_bool_byte(unsigned char byte) {
  bool b;
  static_assert(sizeof b == 1);
  std::memcpy(&b, &byte, 1);
  bool volatile passed = b;
  return qmgl_value(static_cast<bool>(passed));
}

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
  expect_raised(raise_of([body] { delete body; }), 0x20030004, "exc_should_not_execute");
  EXPECT_EQ(qmgl_value(true)._body, body) << "the shared body is intact";
  EXPECT_EQ(text_of(qmgl_value(true)), "true ");

  // Owned bodies: a copy has its own; STR, UNI and BIN copies share the payload buffer.
  qmgl_value const s("text");
  qmgl_value const w(wide(u"wide"));
  qmgl_value const b = bin({1, 2, 3});
  qmgl_value const a = array_of({1, "x"});
  EXPECT_NE(qmgl_value(s)._body, s._body);
  EXPECT_EQ(qmgl_value(s).as_charp(), s.as_charp());
  EXPECT_EQ(qmgl_value(w).as_unicharp(), w.as_unicharp());
  EXPECT_EQ(qmgl_value(b).as_binaryp(), b.as_binaryp());
  EXPECT_NE(qmgl_value(a).as_value_array()[0]._body, a.as_value_array()[0]._body);
  qmgl_ntarray_of<char, 0> const text("shared");
  EXPECT_EQ(qmgl_value(text).as_charp(), static_cast<char const*>(text));

  // Swapping, moving and assigning a value itself only move body pointers.
  qmgl_value moved(std::move(reassigned));
  EXPECT_TRUE(reassigned.is_null());  // NOLINT: the moved-from state is documented
  qmgl_value owned(s);
  qmgl_value_base* const owned_body = owned._body;
  owned.swap(moved);
  EXPECT_EQ(moved._body, owned_body);
  EXPECT_EQ(owned._body, body);
  owned = std::move(moved);
  qmgl_value& alias = owned;
  owned = std::move(alias);
  owned = static_cast<qmgl_value const&>(owned);
  EXPECT_EQ(owned._body, owned_body);
}

TEST(Value, TypeTestsAndAsBoolFollowTheType) {
  struct expectation {
    qmgl_value value;
    unsigned code;
    std::string tests;
    bool as_bool;
  };
  std::vector<expectation> const table = {
      {qmgl_value(), 0, "null", false},
      {qmgl_value(false), 3, "bool bool3", false},
      {qmgl_value(true), 3, "bool bool3", true},
      {qmgl_value(qmgl_bool3_false), 4, "bool3", false},
      {qmgl_value(qmgl_bool3_unknown), 4, "bool3", false},
      {qmgl_value(qmgl_bool3_true), 4, "bool3", true},
      {qmgl_value(-3), 5, "int", false},
      {qmgl_value("50%"), 6, "charp str", false},
      {qmgl_value(wide(u"50")), 7, "unicharp uni", false},
      {qmgl_value(wide(u"50%")), 7, "unicharp uni uni_ex", false},
      {qmgl_value(wide(u"%")), 7, "unicharp uni uni_ex", false},
      {bin({1}), 8, "binaryp bin", false},
      {array_of({true, qmgl_value(wide(u"%"))}), 9, "value_array", false},
  };
  for (expectation const& e : table) {
    SCOPED_TRACE(text_of(e.value));
    EXPECT_EQ(e.value._body->type_code(), e.code);
    EXPECT_EQ(true_tests(e.value), e.tests);
    EXPECT_FALSE(e.value._body->is_eol());
    EXPECT_EQ(e.value.as_bool(), e.as_bool) << "as_bool never refuses";
    EXPECT_EQ(static_cast<bool>(e.value), e.as_bool);
    for (expectation const& other : table)
      EXPECT_EQ(e.value.is_same_type(other.value), e.code == other.code) << other.tests;
  }
}

TEST(Value, AccessGivesThePayload) {
  EXPECT_EQ(qmgl_value(true).as_bool3(), qmgl_bool3(qmgl_bool3_true));
  EXPECT_EQ(qmgl_value(false).as_bool3(), qmgl_bool3(qmgl_bool3_false));
  EXPECT_EQ(qmgl_value(qmgl_bool3_unknown).as_bool3(), qmgl_bool3(qmgl_bool3_unknown));
  EXPECT_EQ(static_cast<int>(qmgl_value(-2147483647 - 1)), -2147483647 - 1);
  qmgl_value const s("it's");
  EXPECT_STREQ(static_cast<char const*>(s), "it's");
  EXPECT_EQ(static_cast<char const*>(s.as_str()), s.as_charp());
  EXPECT_STREQ(qmgl_value(static_cast<char const*>(nullptr)).as_charp(), "");
  qmgl_value const w(wide(u"\u00e9t\u00e9"));
  EXPECT_EQ(static_cast<unsigned short const*>(w)[0], 0xE9);
  EXPECT_EQ(w.as_unicharp(), static_cast<unsigned short const*>(w.as_uni()));
  qmgl_value const b = bin({0x00, 0xFF});
  EXPECT_EQ(b.as_binaryp(), static_cast<unsigned char const*>(b.as_bin()));
  EXPECT_EQ(bytes_in(b.as_bin()), (std::vector<unsigned char>{0x00, 0xFF}));
}

TEST(Value, RefusalsRaiseAndWriteInnerOperationRecords) {
  struct accessor {
    std::function<void(qmgl_value const&)> call;
    char const* expected;
  };
  // In the order of their tracepoints 0x141F0100, 0x141F0200, ...
  std::vector<accessor> const accessors = {
      {[](qmgl_value const& v) { v.as_bool(); }, "BOOL"},
      {[](qmgl_value const& v) { v.as_bool3(); }, "BOOL3"},
      {[](qmgl_value const& v) { v.as_int(); }, "INT"},
      {[](qmgl_value const& v) { v.as_charp(); }, "STR"},
      {[](qmgl_value const& v) { v.as_unicharp(); }, "UNI"},
      {[](qmgl_value const& v) { v.as_binaryp(); }, "BIN"},
      {[](qmgl_value const& v) { v.as_str(); }, "STR"},
      {[](qmgl_value const& v) { v.as_uni(); }, "UNI"},
      {[](qmgl_value const& v) { v.as_bin(); }, "BIN"},
      {[](qmgl_value const& v) { v.as_bytes(); }, "BIN"},
      {[](qmgl_value const& v) { v.as_value_array(); }, "VALUE_ARRAY"},
  };
  struct refusal {
    qmgl_value value;
    unsigned accessor;  // index in accessors
    std::string type;
  };
  std::vector<refusal> table;
  for (unsigned i = 0; i < accessors.size(); ++i) {
    table.push_back({qmgl_value(), i, "NULL"});
    if (i != 3 && i != 6) table.push_back({qmgl_value("1"), i, "STR"});
  }
  table.push_back({qmgl_value(1), 3, "INT"});
  table.push_back({qmgl_value(1), 6, "INT"});
  // A BIN value is no list of wide strings; in an array, the first element that is not UNI
  // refuses, as its as_unicharp does.
  table.push_back({bin({0x61, 0x00, 0x00, 0x00}), 9, "BIN"});
  table.push_back({array_of({qmgl_value(wide(u"a")), qmgl_value(2), 3}), 9, "INT"});

  trace_capture capture(0x10000);
  for (refusal const& r : table) {
    SCOPED_TRACE(r.type + " as " + std::to_string(r.accessor));
    raised const result = raise_of([&] { accessors[r.accessor].call(r.value); });
    if (r.accessor == 0)
      EXPECT_FALSE(result.thrown);
    else
      expect_raised(result, invalid_cast, "exc_invalid_cast");
    bool const element = r.value.is_value_array();
    qmgl_value_base const* const body = element ? r.value.as_value_array()[1]._body : r.value._body;
    accessor const& a = accessors[element ? 4 : r.accessor];
    std::uint32_t const tracepoint = 0x141F0100 + 0x100 * (element ? 4 : r.accessor);
    EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                  text_record(0x062A0000, tracepoint, body,
                                              "object type is " + r.type + " not " + a.expected),
                                  value_record(0x062B0000, tracepoint, body, 0),
                              }));
  }
  qmgl_value const number(1);
  // Access that is answered writes nothing.
  EXPECT_FALSE(qmgl_value(false).as_bool());
  EXPECT_EQ(number.as_int(), 1);
  EXPECT_TRUE(capture.take().empty());
}

TEST(Value, ChangesGiveTheirResultOrRaiseAndKeepTheValue) {
  unsigned char const bytes[] = {1, 2, 3, 4};
  qmgl_bool3 const bad_bool3(static_cast<qmgl_bool3_value>(2));
  std::string const bool3_check =
      "assertion failed: b == qmgl_bool3(qmgl_bool3_false) || b == qmgl_bool3(qmgl_bool3_true) "
      "|| b == qmgl_bool3(qmgl_bool3_unknown)";
  qmgl_value const null_value;
  qmgl_value_array const none;
  qmgl_value_array const one_two = array_list({1, 2});
  qmgl_value_array const three_one = array_list({3, 1});
  qmgl_value const x_one_three = array_of({"x", 1, 3});
  qmgl_value const only_null = array_of({null_value});
  struct row {
    qmgl_value start;
    std::function<void(qmgl_value&)> call;
    unsigned code;     // the type code after it
    std::string text;  // the text after it
    std::uint32_t raised = 0;
    std::string message = "";
  };
  std::vector<row> const table = {
      // Assignment of each type.
      {null_value, [](qmgl_value& v) { v = 3; }, 5, "3  "},
      {null_value, [](qmgl_value& v) { v = "abc"; }, 6, "'abc' "},
      {null_value, [](qmgl_value& v) { v = wide(u"w"); }, 7, "\"w\"  "},
      {null_value, [](qmgl_value& v) { v = qmgl_ntarray_of<char, 0>("s"); }, 6, "'s' "},
      {null_value, [](qmgl_value& v) { v = qmgl_ntarray_of<unsigned short, 0>(wide(u"uv")); }, 7,
       "\"uv\"  "},
      {null_value, [&](qmgl_value& v) { v = bin(std::vector<unsigned char>(bytes, bytes + 1)); }, 8,
       "#01 "},
      {null_value, [&](qmgl_value& v) { v = one_two; }, 9, "(1  , 2  )  "},
      {qmgl_value(1), [](qmgl_value& v) { v = false; }, 3, "false "},
      {qmgl_value(1), [](qmgl_value& v) { v = qmgl_bool3(qmgl_bool3_unknown); }, 4, "unknown "},
      {qmgl_value(1), [](qmgl_value& v) { v = qmgl_bool3_true; }, 4, "true "},
      // Arguments that live inside the value itself.
      {qmgl_value("in"), [](qmgl_value& v) { v = v.as_charp(); }, 6, "'in' "},
      {array_of({"first", 2}), [](qmgl_value& v) { v = v.as_value_array()[0]; }, 6, "'first' "},
      {array_of({1, 2}), [](qmgl_value& v) { v = v.as_value_array(); }, 9, "(1  , 2  )  "},
      // Booleans that hold no state.
      {qmgl_value(5), [&](qmgl_value& v) { v = bad_bool3; }, 5, "5  ", assertion_failed,
       bool3_check},
      {qmgl_value(5), [](qmgl_value& v) { v = static_cast<qmgl_bool3_value>(-2); }, 5, "5  ",
       assertion_failed, bool3_check},
      {qmgl_value(5), [](qmgl_value&) { value_from_bool_byte(2); }, 5, "5  ", assertion_failed,
       "assertion failed: b == false || b == true"},
      // assign takes one value of the value's own type from an argument list.
      {qmgl_value(0), [](qmgl_value& v) { assign(v, 7, 42); }, 5, "7  "},
      {qmgl_value(true), [](qmgl_value& v) { assign(v, 0, 42); }, 3, "false "},
      {qmgl_value(false), [](qmgl_value& v) { assign(v, 0x101, 42); }, 3, "true "},  // low byte
      {qmgl_value(qmgl_bool3_false),
       [](qmgl_value& v) { assign(v, qmgl_bool3(qmgl_bool3_unknown), 42); }, 4, "unknown "},
      {qmgl_value("old"), [](qmgl_value& v) { assign(v, "new", 42); }, 6, "'new' "},
      {qmgl_value(wide(u"old")), [](qmgl_value& v) { assign(v, wide(u"n\u00e9w"), 42); }, 7,
       "\"n\xc3\xa9w\"  "},
      {bin({}), [&](qmgl_value& v) { assign(v, bytes, 3u, 42); }, 8, "#010203 "},
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
      {qmgl_value(1), [](qmgl_value& v) { v += qmgl_value(2); }, 9, "(1  , 2  )  "},
      {qmgl_value(3), [&](qmgl_value& v) { v += one_two; }, 9, "(3  , 1  , 2  )  "},
      {null_value, [](qmgl_value& v) { v += qmgl_value(1); }, 9, "(null , 1  )  "},
      {qmgl_value("s"), [&](qmgl_value& v) { v += none; }, 9, "('s' )  "},
      {qmgl_value(7), [](qmgl_value& v) { (v += v) += v; }, 9, "(7  , 7  , 7  , 7  )  "},
      {array_of({}), [&](qmgl_value& v) { (v += qmgl_value(one_two)) += none; }, 9, "(1  , 2  )  "},
      // -= takes every element that compares true, and keeps those that compare unknown.
      {array_of({1, 2, 3, 2}), [](qmgl_value& v) { v -= qmgl_value(2); }, 9, "(1  , 3  )  "},
      {array_of({1, 2, 3}), [&](qmgl_value& v) { v -= three_one; }, 9, "(2  )  "},
      {array_of({1, null_value, 1}), [](qmgl_value& v) { v -= qmgl_value(); }, 9,
       "(1  , null , 1  )  "},
      {array_of({null_value, 1}), [&](qmgl_value& v) { v -= only_null; }, 9, "(null , 1  )  "},
      {array_of({1, "1", 2, "x", 3}), [&](qmgl_value& v) { v -= x_one_three; }, 9, "('1' , 2  )  "},
      {array_of({true, qmgl_value(qmgl_bool3_true), false, qmgl_value(qmgl_bool3_unknown)}),
       [](qmgl_value& v) { v -= qmgl_value(true); }, 9, "(false , unknown )  "},
      {array_of({1, 2}), [&](qmgl_value& v) { (v -= none) -= qmgl_value(5); }, 9, "(1  , 2  )  "},
      {array_of({}), [](qmgl_value& v) { v -= qmgl_value(1); }, 9, "()  "},
      {array_of({null_value, 1, "x", null_value}), [](qmgl_value& v) { v -= v; }, 9,
       "(null , null )  "},
      {qmgl_value(1), [](qmgl_value& v) { v -= qmgl_value(1); }, 5, "1  ", 0x20030004,
       "exc_should_not_execute"},
      {qmgl_value(1), [&](qmgl_value& v) { v -= one_two; }, 5, "1  ", 0x20030004,
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
    if (v.is_bool3()) {
      qmgl_value const shared = v.is_bool() ? qmgl_value(v.as_bool()) : qmgl_value(v.as_bool3());
      EXPECT_EQ(v._body, shared._body);
    }
  }
}

TEST(Value, WideStringListAndAsBytesAreInverse) {
  // a, bc, then the empty string that ends the list.
  unsigned short const list[] = {'a', 0, 'b', 'c', 0, 0};
  unsigned short const* p = list;
  qmgl_value const v(&p);
  EXPECT_EQ(p, list) << "the pointer is not advanced";
  EXPECT_EQ(text_of(v), "(\"a\"  , \"bc\"  )  ");
  EXPECT_EQ(bytes_in(v.as_bytes()),
            (std::vector<unsigned char>{0x61, 0, 0, 0, 0x62, 0, 0x63, 0, 0, 0, 0, 0}));

  unsigned short const empty_list[] = {0, 'x', 0, 0};
  unsigned short const* e = empty_list;
  qmgl_value const empty(&e);
  EXPECT_EQ(text_of(empty), "()  ");
  EXPECT_EQ(bytes_in(empty.as_bytes()), (std::vector<unsigned char>{0, 0}));
  unsigned short const* none = nullptr;
  EXPECT_EQ(text_of(qmgl_value(&none)), "()  ");

  // Units are written low byte first.
  qmgl_value const euro = array_of({qmgl_value(wide(u"\u20ac")), qmgl_value(wide(u""))});
  EXPECT_EQ(bytes_in(euro.as_bytes()), (std::vector<unsigned char>{0xAC, 0x20, 0, 0, 0, 0, 0, 0}));
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
  qmgl_value const no(qmgl_bool3_false);
  qmgl_value const unknown(qmgl_bool3_unknown);
  for (qmgl_value const& other : {qmgl_value(), qmgl_value(5), qmgl_value("s"), bin({}),
                                  qmgl_value(true), unknown, array_of({})}) {
    EXPECT_EQ(comparisons(qmgl_value(), other), "UUUUUU") << text_of(other);
    EXPECT_EQ(comparisons(other, qmgl_value()), "UUUUUU") << text_of(other);
  }
  struct pair {
    qmgl_value a;
    qmgl_value b;
    char const* results;  // as comparisons gives them
  };
  std::vector<pair> const table = {
      {qmgl_value(1), qmgl_value(1), "TFFFTT"},
      {qmgl_value(-1), qmgl_value(0), "FTTFTF"},  // signed
      {qmgl_value("abc"), qmgl_value("abc"), "TFFFTT"},
      {qmgl_value("ab"), qmgl_value("abc"), "FTTFTF"},
      {qmgl_value("\x80"), qmgl_value("a"), "FTTFTF"},  // narrow text: signed bytes
      {qmgl_value(wide(u"ab")), qmgl_value(wide(u"ab")), "TFFFTT"},
      {qmgl_value(wide(u"a")), qmgl_value(wide(u"\u8000")), "FTTFTF"},  // wide: unsigned units
      {qmgl_value(wide(u"b")), qmgl_value(wide(u"ab")), "FTFTFT"},
      // Byte strings: unsigned bytes, the first difference decides, a prefix is less.
      {bin({1, 2}), bin({1, 2, 0}), "FTTFTF"},
      {bin({0xFF}), bin({0x01, 0x00}), "FTFTFT"},
      {bin({0x7F}), bin({0x80}), "FTTFTF"},
      {bin({}), bin({0}), "FTTFTF"},
      {bin({1, 2}), bin({1, 2}), "TFFFTT"},
      {qmgl_value(qmgl_refcounted_vector_of<unsigned char>()), bin({}), "TFFFTT"},
      // Other types are unequal and unordered, but BOOL and BOOL3 compare together, ordered
      // unknown < false < true.
      {qmgl_value(1), qmgl_value("1"), "FTXXXX"},
      {qmgl_value(true), qmgl_value(1), "FTXXXX"},
      {array_of({}), bin({}), "FTXXXX"},
      {qmgl_value(true), yes, "TFFFTT"},
      {unknown, qmgl_value(false), "FTTFTF"},
      {unknown, unknown, "TFFFTT"},  // an unknown held is a value, not a NULL
      {no, yes, "FTTFTF"},
      {yes, unknown, "FTFTFT"},
      {qmgl_value(false), qmgl_value(true), "FTTFTF"},
      {qmgl_value(true), qmgl_value(true), "TFFFTT"},
      // Arrays compare true or false, never unknown.
      {array_of({qmgl_value()}), array_of({5}), "TFFFTT"},
      {array_of({1, 2}), array_of({1, 2, 3}), "FTTFTF"},
      {array_of({1, 3}), array_of({1, 2, 9}), "FTFTFT"},
      {array_of({}), array_of({qmgl_value()}), "FTTFTF"},
      {array_of({qmgl_value(), 1}), array_of({7, 2}), "FTTFTF"},  // unknown is passed over
      {array_of({1, 1}), array_of({2, "a"}), "FTTFTF"},           // decided before the mismatch
      {array_of({1}), array_of({"a"}), "FTXXXX"},
  };
  for (pair const& p : table)
    EXPECT_EQ(comparisons(p.a, p.b), p.results) << text_of(p.a) << "/ " << text_of(p.b);
}

}  // namespace
