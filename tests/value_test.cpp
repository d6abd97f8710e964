#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <typeindex>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_value.h>

#include "support/raised.h"
#include "support/trace_capture.h"
#include "support/value_helpers.h"

namespace {

using str = qmgl_ntarray_of<char, 0>;
using uni = qmgl_ntarray_of<unsigned short, 0>;

constexpr char value_file[] = "src/qmgl/qmgl_value";

// The names of the type tests that hold for v, in declaration order.
std::string true_tests(qmgl_value const& v) {
  std::string names;
  auto add = [&names](bool holds, char const* name) {
    if (!holds) return;
    if (!names.empty()) names += ' ';
    names += name;
  };
  add(v.is_null(), "null");
  add(v.is_eoi(), "eoi");
  add(v.is_bool(), "bool");
  add(v.is_bool3(), "bool3");
  add(v.is_int(), "int");
  add(v.is_charp(), "charp");
  add(v.is_unicharp(), "unicharp");
  add(v.is_binaryp(), "binaryp");
  add(v.is_str(), "str");
  add(v.is_uni(), "uni");
  add(v.is_uni_ex(), "uni_ex");
  add(v.is_bin(), "bin");
  add(v.is_value_array(), "value_array");
  return names;
}

void expect_invalid_cast(raised const& r) {
  EXPECT_TRUE(r.thrown);
  EXPECT_EQ(r.type, typeid(exc_invalid_cast_t));
  EXPECT_EQ(r.code, 0x20030015u);
  EXPECT_STREQ(r.file, value_file);
  EXPECT_EQ(r.message, "exc_invalid_cast");
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

// v.assign over the arguments that follow, then the int after them.
int assign_then_next(qmgl_value* v, ...) {
  va_list args;
  va_start(args, v);
  try {
    v->assign(args);
  } catch (...) {
    va_end(args);
    throw;
  }
  int const next = va_arg(args, int);
  va_end(args);
  return next;
}

raised assign_raise(qmgl_value* v, int argument) {
  return raise_of([&] { assign_then_next(v, argument, 0); });
}

TEST(Value, DefaultIsTheSharedNull) {
  static_assert(sizeof(qmgl_value) == sizeof(void*), "a handle is one pointer");
  qmgl_value const a;
  qmgl_value const b;
  EXPECT_EQ(a._body, b._body);
  EXPECT_EQ(a._body->type_code(), 0u);
  EXPECT_TRUE(a.is_null());
  EXPECT_TRUE(a.is_same_type(b));
  EXPECT_FALSE(a.is_same_type(qmgl_value(false)));
}

TEST(Value, SharedBodiesAreOnePerKind) {
  qmgl_value const t1(true);
  qmgl_value const t2(true);
  qmgl_value const copy(t1);
  EXPECT_EQ(t1._body, t2._body);
  EXPECT_EQ(copy._body, t1._body) << "copying a shared body copies the pointer";
  EXPECT_NE(qmgl_value(false)._body, t1._body);
  qmgl_value assigned(5);
  assigned = true;
  EXPECT_EQ(assigned._body, t1._body);

  qmgl_value const u1(qmgl_bool3_unknown);
  qmgl_value const u2{qmgl_bool3(qmgl_bool3_unknown)};
  qmgl_value const b3t{qmgl_bool3(true)};
  qmgl_value const b3f(qmgl_bool3_false);
  EXPECT_EQ(u1._body, u2._body);
  EXPECT_EQ(b3t._body, qmgl_value(qmgl_bool3_true)._body);
  EXPECT_NE(b3t._body, b3f._body);
  EXPECT_NE(b3t._body, u1._body);
  EXPECT_NE(b3t._body, t1._body) << "BOOL true and BOOL3 true are different types";
}

TEST(Value, DeletingASharedBodyRaisesAndLeavesItIntact) {
  qmgl_value const v(true);
  qmgl_value_base* const body = v._body;
  raised const r = raise_of([body] { delete body; });
  EXPECT_EQ(r.type, typeid(exc_should_not_execute_t));
  EXPECT_STREQ(r.file, value_file);
  EXPECT_EQ(r.message, "exc_should_not_execute");
  EXPECT_TRUE(v.as_bool());
  EXPECT_EQ(qmgl_value(true)._body, body);
  EXPECT_EQ(text_of(v), "true ");
}

TEST(Value, OwnedBodiesBelongToOneValue) {
  qmgl_value const n(7);
  qmgl_value const n_copy(n);
  EXPECT_NE(n_copy._body, n._body);
  EXPECT_EQ(n_copy.as_int(), 7);

  // Copies of strings and byte strings share the payload buffer, not the body.
  qmgl_value const s("text");
  qmgl_value const s_copy(s);
  EXPECT_NE(s_copy._body, s._body);
  EXPECT_EQ(s_copy.as_charp(), s.as_charp());
  qmgl_value const w(wide(u"wide"));
  EXPECT_EQ(qmgl_value(w).as_unicharp(), w.as_unicharp());
  qmgl_value const b = bin({1, 2, 3});
  EXPECT_EQ(qmgl_value(b).as_binaryp(), b.as_binaryp());

  // Constructing from a string shares it.
  str const text("shared");
  EXPECT_EQ(qmgl_value(text).as_charp(), static_cast<char const*>(text));

  // Arrays copy deeply: a copy changes alone.
  qmgl_value const a = array_of({1, "x"});
  qmgl_value grown(a);
  grown += qmgl_value(3);
  EXPECT_EQ(a.as_value_array().get_size(), 2u);
  EXPECT_EQ(grown.as_value_array().get_size(), 3u);
  EXPECT_NE(grown.as_value_array()[0]._body, a.as_value_array()[0]._body);
}

TEST(Value, TypeTestsFollowTheType) {
  struct expectation {
    qmgl_value value;
    unsigned code;
    std::string tests;
  };
  std::vector<expectation> const table = {
      {qmgl_value(), 0, "null"},
      {qmgl_value(false), 3, "bool bool3"},
      {qmgl_value(true), 3, "bool bool3"},
      {qmgl_value(qmgl_bool3_unknown), 4, "bool3"},
      {qmgl_value(qmgl_bool3_true), 4, "bool3"},
      {qmgl_value(-3), 5, "int"},
      {qmgl_value("50%"), 6, "charp str"},
      {qmgl_value(wide(u"50")), 7, "unicharp uni"},
      {qmgl_value(wide(u"50%")), 7, "unicharp uni uni_ex"},
      {qmgl_value(wide(u"%")), 7, "unicharp uni uni_ex"},
      {bin({}), 8, "binaryp bin"},
      {array_of({}), 9, "value_array"},
      {array_of({qmgl_value(wide(u"%"))}), 9, "value_array"},
  };
  for (expectation const& e : table) {
    EXPECT_EQ(e.value._body->type_code(), e.code) << e.tests;
    EXPECT_EQ(true_tests(e.value), e.tests);
    EXPECT_FALSE(e.value._body->is_eol()) << e.tests;
    for (expectation const& other : table)
      EXPECT_EQ(e.value.is_same_type(other.value), e.code == other.code)
          << e.tests << " / " << other.tests;
  }
}

TEST(Value, AccessGivesThePayload) {
  EXPECT_TRUE(qmgl_value(true).as_bool());
  EXPECT_FALSE(qmgl_value(false).as_bool());
  EXPECT_EQ(qmgl_value(true).as_bool3(), qmgl_bool3(qmgl_bool3_true));
  EXPECT_EQ(qmgl_value(false).as_bool3(), qmgl_bool3(qmgl_bool3_false));
  EXPECT_TRUE(qmgl_value(qmgl_bool3_true).as_bool());
  EXPECT_FALSE(qmgl_value(qmgl_bool3_false).as_bool());
  EXPECT_FALSE(qmgl_value(qmgl_bool3_unknown).as_bool());
  EXPECT_EQ(qmgl_value(qmgl_bool3_unknown).as_bool3(), qmgl_bool3(qmgl_bool3_unknown));
  bool const converted = qmgl_value(true);
  EXPECT_TRUE(converted);

  qmgl_value const n(-2147483647 - 1);
  EXPECT_EQ(n.as_int(), -2147483647 - 1);
  int const as_int = n;
  EXPECT_EQ(as_int, -2147483647 - 1);

  qmgl_value const s("it's");
  EXPECT_STREQ(s.as_charp(), "it's");
  EXPECT_EQ(s.as_str().length(), 4u);
  EXPECT_EQ(static_cast<char const*>(s.as_str()), s.as_charp());
  char const* const as_charp = s;
  EXPECT_EQ(as_charp, s.as_charp());
  EXPECT_STREQ(qmgl_value(static_cast<char const*>(nullptr)).as_charp(), "");

  qmgl_value const w(wide(u"\u00e9t\u00e9"));
  EXPECT_EQ(w.as_uni().length(), 3u);
  EXPECT_EQ(w.as_unicharp()[0], 0xE9);
  unsigned short const* const as_unicharp = w;
  EXPECT_EQ(as_unicharp, w.as_unicharp());

  qmgl_value const b = bin({0x00, 0xFF});
  EXPECT_EQ(b.as_bin().get_size(), 2u);
  EXPECT_EQ(b.as_binaryp()[1], 0xFF);
  EXPECT_EQ(b.as_binaryp(), static_cast<unsigned char const*>(b.as_bin()));

  qmgl_value const a = array_of({1, 2});
  EXPECT_EQ(a.as_value_array().get_size(), 2u);
  EXPECT_EQ(a.as_value_array()[1].as_int(), 2);
}

TEST(Value, AccessRefusesOtherTypes) {
  qmgl_value const s("1");
  expect_invalid_cast(raise_of([&] { s.as_int(); }));
  expect_invalid_cast(raise_of([&] { static_cast<void>(static_cast<int>(s)); }));
  expect_invalid_cast(raise_of([&] { s.as_bool3(); }));
  expect_invalid_cast(raise_of([&] { s.as_unicharp(); }));
  expect_invalid_cast(raise_of([&] { s.as_uni(); }));
  expect_invalid_cast(raise_of([&] { s.as_binaryp(); }));
  expect_invalid_cast(raise_of([&] { s.as_bin(); }));
  expect_invalid_cast(raise_of([&] { s.as_bytes(); }));
  expect_invalid_cast(raise_of([&] { s.as_value_array(); }));
  expect_invalid_cast(raise_of([] { qmgl_value(1).as_charp(); }));
  expect_invalid_cast(raise_of([] { qmgl_value(1).as_str(); }));
  expect_invalid_cast(raise_of([] { qmgl_value(qmgl_bool3_true).as_int(); }));
  expect_invalid_cast(raise_of([] { qmgl_value().as_bool3(); }));
  // A BIN value is no list of wide strings.
  expect_invalid_cast(raise_of([] { bin({0x61, 0x00, 0x00, 0x00}).as_bytes(); }));

  // as_bool answers false instead.
  for (qmgl_value const& v :
       {qmgl_value(), qmgl_value(1), s, qmgl_value(wide(u"x")), bin({1}), array_of({true})}) {
    bool answer = true;
    EXPECT_FALSE(raise_of([&] { answer = v.as_bool(); }).thrown);
    EXPECT_FALSE(answer);
    EXPECT_FALSE(static_cast<bool>(v));
  }
}

TEST(Value, RefusalsWriteInnerOperationRecords) {
  qmgl_value const null_value;
  struct access {
    std::function<void()> call;
    std::uint32_t tracepoint;
    char const* expected;
  };
  std::vector<access> const table = {
      {[&] { null_value.as_bool(); }, 0x141F0100, "BOOL"},
      {[&] { null_value.as_bool3(); }, 0x141F0200, "BOOL3"},
      {[&] { null_value.as_int(); }, 0x141F0300, "INT"},
      {[&] { null_value.as_charp(); }, 0x141F0400, "STR"},
      {[&] { null_value.as_unicharp(); }, 0x141F0500, "UNI"},
      {[&] { null_value.as_binaryp(); }, 0x141F0600, "BIN"},
      {[&] { null_value.as_str(); }, 0x141F0700, "STR"},
      {[&] { null_value.as_uni(); }, 0x141F0800, "UNI"},
      {[&] { null_value.as_bin(); }, 0x141F0900, "BIN"},
      {[&] { null_value.as_bytes(); }, 0x141F0A00, "BIN"},
      {[&] { null_value.as_value_array(); }, 0x141F0B00, "VALUE_ARRAY"},
  };
  trace_capture capture(0x10000);
  for (access const& a : table) {
    raise_of(a.call);
    EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                  text_record(0x062A0000, a.tracepoint, null_value._body,
                                              std::string("object type is NULL not ") + a.expected),
                                  value_record(0x062B0000, a.tracepoint, null_value._body, 0),
                              }));
  }

  qmgl_value const s("x");
  raise_of([&] { s.as_int(); });
  qmgl_value const b = bin({});
  raise_of([&] { b.as_bytes(); });
  qmgl_value const a = array_of({qmgl_value(wide(u"a")), qmgl_value(2)});
  raise_of([&] { a.as_bytes(); });
  qmgl_value_base const* const element = a.as_value_array()[1]._body;
  EXPECT_EQ(capture.take(),
            (std::vector<captured_record>{
                text_record(0x062A0000, 0x141F0300, s._body, "object type is STR not INT"),
                value_record(0x062B0000, 0x141F0300, s._body, 0),
                text_record(0x062A0000, 0x141F0A00, b._body, "object type is BIN not BIN"),
                value_record(0x062B0000, 0x141F0A00, b._body, 0),
                text_record(0x062A0000, 0x141F0500, element, "object type is INT not UNI"),
                value_record(0x062B0000, 0x141F0500, element, 0),
            }));

  // Access that is answered writes nothing.
  EXPECT_EQ(s.as_charp()[0], 'x');
  EXPECT_FALSE(qmgl_value(false).as_bool());
  EXPECT_TRUE(capture.take().empty());
}

TEST(Value, RefusalsWriteNothingWhenTheLevelIsOff) {
  trace_capture capture(0xFFFF);
  qmgl_value const n(1);
  EXPECT_FALSE(n.as_bool());
  raise_of([&] { n.as_charp(); });
  std::vector<captured_record> const records = capture.take();
  EXPECT_FALSE(records.empty()) << "the exception's own records";
  for (captured_record const& r : records)
    EXPECT_NE(r.tracepoint >> 16, 0x141Fu) << "no value record below level 0x10000";
}

TEST(Value, BooleanArgumentsMustHoldAState) {
  char const bool3_text[] =
      "assertion failed: b == qmgl_bool3(qmgl_bool3_false) || b == qmgl_bool3(qmgl_bool3_true) "
      "|| b == qmgl_bool3(qmgl_bool3_unknown)";
  qmgl_bool3 const bad(static_cast<qmgl_bool3_value>(2));
  raised r = raise_of([&] { qmgl_value v(bad); });
  EXPECT_EQ(r.type, typeid(exc_assertion_failed_t));
  EXPECT_EQ(r.code, 0x20030000u);
  EXPECT_STREQ(r.file, value_file);
  EXPECT_EQ(r.message, bool3_text);

  qmgl_value v(5);
  qmgl_value_base* const body = v._body;
  r = raise_of([&] { v = bad; });
  EXPECT_EQ(r.message, bool3_text);
  r = raise_of([&] { v = static_cast<qmgl_bool3_value>(-2); });
  EXPECT_EQ(r.message, bool3_text);
  EXPECT_EQ(v._body, body) << "a failed assignment keeps the old content";
  EXPECT_EQ(v.as_int(), 5);

  r = raise_of([] { value_from_bool_byte(2); });
  EXPECT_EQ(r.type, typeid(exc_assertion_failed_t));
  EXPECT_EQ(r.message, "assertion failed: b == false || b == true");
  EXPECT_TRUE(value_from_bool_byte(1).as_bool());
  EXPECT_TRUE(value_from_bool_byte(0).is_bool());
}

TEST(Value, AssignmentReplacesTheContent) {
  qmgl_value v;
  v = 3;
  EXPECT_EQ(v.as_int(), 3);
  v = "abc";
  EXPECT_STREQ(v.as_charp(), "abc");
  v = wide(u"w");
  EXPECT_EQ(v.as_uni().length(), 1u);
  v = str("s");
  EXPECT_STREQ(v.as_charp(), "s");
  v = uni(wide(u"uv"));
  EXPECT_EQ(v.as_uni().length(), 2u);
  v = bytes_of({9});
  EXPECT_EQ(v.as_binaryp()[0], 9);
  v = array_list({1, 2});
  EXPECT_EQ(v.as_value_array().get_size(), 2u);
  v = false;
  EXPECT_TRUE(v.is_bool());
  v = qmgl_bool3(qmgl_bool3_unknown);
  EXPECT_EQ(v.as_bool3(), qmgl_bool3(qmgl_bool3_unknown));
  v = qmgl_bool3_true;
  EXPECT_TRUE(v.as_bool());
  v = qmgl_value(8);
  EXPECT_EQ(v.as_int(), 8);

  // Self-assignment, and arguments that live inside the value itself.
  qmgl_value_base* const body = v._body;
  qmgl_value const& same = v;
  v = same;
  EXPECT_EQ(v._body, body);
  EXPECT_EQ(v.as_int(), 8);
  v = "inside";
  v = v.as_charp();
  EXPECT_STREQ(v.as_charp(), "inside");
  v = array_of({"first", 2});
  v = v.as_value_array()[0];
  EXPECT_STREQ(v.as_charp(), "first");
  v = array_of({1, 2});
  v = v.as_value_array();
  EXPECT_EQ(v.as_value_array().get_size(), 2u);
}

TEST(Value, SwapAndMoveExchangeBodies) {
  qmgl_value a("a");
  qmgl_value b(2);
  qmgl_value_base* const body_a = a._body;
  qmgl_value_base* const body_b = b._body;
  a.swap(b);
  EXPECT_EQ(a._body, body_b);
  EXPECT_EQ(b._body, body_a);

  qmgl_value moved(std::move(a));
  EXPECT_EQ(moved._body, body_b);
  EXPECT_TRUE(a.is_null());  // NOLINT: the moved-from state is documented
  a = std::move(b);
  EXPECT_EQ(a._body, body_a);
  EXPECT_TRUE(b.is_null());  // NOLINT
  qmgl_value& alias = a;
  a = std::move(alias);
  EXPECT_EQ(a._body, body_a);
}

TEST(Value, AssignTakesArgumentsByType) {
  qmgl_value v(0);
  EXPECT_EQ(assign_then_next(&v, 7, 42), 42) << "one int taken";
  EXPECT_EQ(v.as_int(), 7);

  v = true;
  EXPECT_EQ(assign_then_next(&v, 0, 42), 42);
  EXPECT_FALSE(v.as_bool());
  EXPECT_TRUE(v.is_bool());
  assign_then_next(&v, 0x101, 0);
  EXPECT_TRUE(v.as_bool()) << "only the low byte counts";

  v = qmgl_bool3_false;
  EXPECT_EQ(assign_then_next(&v, qmgl_bool3(qmgl_bool3_unknown), 42), 42);
  EXPECT_EQ(v.as_bool3(), qmgl_bool3(qmgl_bool3_unknown));
  EXPECT_EQ(v._body, qmgl_value(qmgl_bool3_unknown)._body);

  v = "old";
  EXPECT_EQ(assign_then_next(&v, "new", 42), 42);
  EXPECT_STREQ(v.as_charp(), "new");

  v = wide(u"old");
  EXPECT_EQ(assign_then_next(&v, wide(u"n\u00e9w"), 42), 42);
  EXPECT_EQ(v.as_uni().length(), 3u);
  EXPECT_EQ(v.as_unicharp()[1], 0xE9);

  unsigned char const bytes[] = {1, 2, 3, 4};
  v = bin({});
  EXPECT_EQ(assign_then_next(&v, bytes, 3u, 42), 42) << "a pointer and a count taken";
  EXPECT_EQ(bytes_in(v.as_bin()), (std::vector<unsigned char>{1, 2, 3}));
  EXPECT_NE(v.as_binaryp(), bytes) << "the bytes are copied";
}

TEST(Value, AssignRefusesWhatItCannotTake) {
  qmgl_value null_value;
  raised r = assign_raise(&null_value, 1);
  EXPECT_EQ(r.type, typeid(exc_invalid_operation_t));
  EXPECT_EQ(r.code, 0x20030016u);
  EXPECT_STREQ(r.file, value_file);
  EXPECT_EQ(r.message, "exc_invalid_operation");
  EXPECT_TRUE(null_value.is_null());

  qmgl_value array = array_of({1});
  r = assign_raise(&array, 1);
  EXPECT_EQ(r.type, typeid(exc_invariant_failed_t));
  EXPECT_EQ(r.code, 0x20030003u);
  EXPECT_EQ(r.message, "exc_invariant_failed");
  EXPECT_EQ(array.as_value_array().get_size(), 1u);

  qmgl_value boolean(true);
  r = assign_raise(&boolean, 2);
  EXPECT_EQ(r.type, typeid(exc_assertion_failed_t));
  EXPECT_EQ(r.message, "assertion failed: value == false || value == true");
  EXPECT_TRUE(boolean.as_bool());

  qmgl_value boolean3(qmgl_bool3_true);
  r = raise_of(
      [&] { assign_then_next(&boolean3, qmgl_bool3(static_cast<qmgl_bool3_value>(7)), 0); });
  EXPECT_EQ(r.type, typeid(exc_assertion_failed_t));
  EXPECT_EQ(r.message,
            "assertion failed: value == qmgl_bool3(qmgl_bool3_false) || "
            "value == qmgl_bool3(qmgl_bool3_true) || value == qmgl_bool3(qmgl_bool3_unknown)");
  EXPECT_EQ(boolean3.as_bool3(), qmgl_bool3(qmgl_bool3_true));
}

TEST(Value, WideStringListBecomesAnArrayOfUni) {
  // a, bc, then the empty string that ends the list.
  unsigned short const list[] = {'a', 0, 'b', 'c', 0, 0};
  unsigned short const* p = list;
  qmgl_value const v(&p);
  EXPECT_EQ(p, list) << "the pointer is not advanced";
  ASSERT_TRUE(v.is_value_array());
  qmgl_value_array const& a = v.as_value_array();
  ASSERT_EQ(a.get_size(), 2u);
  EXPECT_TRUE(a[0].is_uni());
  EXPECT_EQ(a[0].as_uni().length(), 1u);
  EXPECT_EQ(a[0].as_unicharp()[0], 'a');
  EXPECT_EQ(a[1].as_uni().length(), 2u);
  EXPECT_EQ(a[1].as_unicharp()[1], 'c');

  EXPECT_EQ(bytes_in(v.as_bytes()),
            (std::vector<unsigned char>{0x61, 0, 0, 0, 0x62, 0, 0x63, 0, 0, 0, 0, 0}));

  unsigned short const empty_list[] = {0, 'x', 0, 0};
  unsigned short const* e = empty_list;
  qmgl_value const empty(&e);
  EXPECT_TRUE(empty.is_value_array());
  EXPECT_EQ(empty.as_value_array().get_size(), 0u);
  EXPECT_EQ(bytes_in(empty.as_bytes()), (std::vector<unsigned char>{0, 0}));
  unsigned short const* none = nullptr;
  EXPECT_EQ(qmgl_value(&none).as_value_array().get_size(), 0u);
}

TEST(Value, AsBytesWritesUnitsLowByteFirst) {
  qmgl_value const v = array_of({qmgl_value(wide(u"\u20ac")), qmgl_value(wide(u""))});
  EXPECT_EQ(bytes_in(v.as_bytes()), (std::vector<unsigned char>{0xAC, 0x20, 0, 0, 0, 0, 0, 0}));

  qmgl_value const mixed = array_of({qmgl_value(wide(u"a")), qmgl_value(1)});
  expect_invalid_cast(raise_of([&] { mixed.as_bytes(); }));
}

}  // namespace
