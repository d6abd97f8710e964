#include <functional>
#include <string>
#include <typeindex>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_value.h>

#include "support/raised.h"
#include "support/value_helpers.h"

namespace {

qmgl_bool3 const yes(qmgl_bool3_true);
qmgl_bool3 const no(qmgl_bool3_false);
qmgl_bool3 const unknown(qmgl_bool3_unknown);

// The six comparisons of a with b, in the order == != < > <= >=.
std::vector<qmgl_bool3> all_comparisons(qmgl_value const& a, qmgl_value const& b) {
  return {a == b, a != b, a<b, a> b, a <= b, a >= b};
}

void expect_invalid_operation(std::function<void()> const& call) {
  raised const r = raise_of(call);
  EXPECT_EQ(r.type, typeid(exc_invalid_operation_t));
  EXPECT_EQ(r.code, 0x20030016u);
  EXPECT_STREQ(r.file, "src/qmgl/qmgl_value");
  EXPECT_EQ(r.message, "exc_invalid_operation");
}

TEST(ValueComparison, NullOnEitherSideIsUnknown) {
  std::vector<qmgl_bool3> const all_unknown(6, unknown);
  qmgl_value const null_value;
  for (qmgl_value const& other : {qmgl_value(), qmgl_value(5), qmgl_value("s"), bin({}),
                                  qmgl_value(true), qmgl_value(qmgl_bool3_unknown), array_of({})}) {
    EXPECT_EQ(all_comparisons(null_value, other), all_unknown);
    EXPECT_EQ(all_comparisons(other, null_value), all_unknown);
  }
}

TEST(ValueComparison, SameTypesCompareByContent) {
  EXPECT_EQ(all_comparisons(qmgl_value(1), qmgl_value(1)),
            (std::vector<qmgl_bool3>{yes, no, no, no, yes, yes}));
  EXPECT_EQ(all_comparisons(qmgl_value(-1), qmgl_value(0)),
            (std::vector<qmgl_bool3>{no, yes, yes, no, yes, no}))
      << "signed order";
  EXPECT_EQ(qmgl_value(3) > qmgl_value(2), yes);
  EXPECT_EQ(qmgl_value(2) <= qmgl_value(2), yes);
  EXPECT_EQ(qmgl_value(-2147483647 - 1) < qmgl_value(2147483647), yes);

  EXPECT_EQ(qmgl_value("abc") == qmgl_value("abc"), yes);
  EXPECT_EQ(qmgl_value("ab") < qmgl_value("abc"), yes);
  EXPECT_EQ(qmgl_value("abd") > qmgl_value("abc"), yes);
  EXPECT_EQ(qmgl_value("\x80") < qmgl_value("a"), yes) << "narrow text orders as signed bytes";

  EXPECT_EQ(qmgl_value(wide(u"ab")) == qmgl_value(wide(u"ab")), yes);
  EXPECT_EQ(qmgl_value(wide(u"a")) < qmgl_value(wide(u"\u8000")), yes)
      << "wide text orders as unsigned units";
  EXPECT_EQ(qmgl_value(wide(u"b")) < qmgl_value(wide(u"ab")), no);
}

TEST(ValueComparison, ByteStringsCompareAsUnsignedBytes) {
  EXPECT_EQ(bin({1, 2}) < bin({1, 2, 0}), yes) << "a prefix is less";
  EXPECT_EQ(bin({1, 2, 0}) < bin({1, 2}), no);
  EXPECT_EQ(bin({0xFF}) < bin({0x01, 0x00}), no) << "the first difference decides";
  EXPECT_EQ(bin({0x01, 0x00}) < bin({0xFF}), yes);
  EXPECT_EQ(bin({0x7F}) < bin({0x80}), yes);
  EXPECT_EQ(bin({}) < bin({0}), yes);
  EXPECT_EQ(bin({}) == bin({}), yes);
  EXPECT_EQ(bin({1, 2}) == bin({1, 2}), yes);
  EXPECT_EQ(bin({1, 2}) == bin({1, 3}), no);
  EXPECT_EQ(bin({1}) == bin({1, 0}), no);
  EXPECT_EQ(qmgl_value(qmgl_refcounted_vector_of<unsigned char>()) == bin({}), yes)
      << "no buffer and an empty buffer hold the same nothing";
}

TEST(ValueComparison, DifferentTypesAreUnequalAndUnordered) {
  qmgl_value const one(1);
  qmgl_value const text("1");
  EXPECT_EQ(one == text, no);
  EXPECT_EQ(one != text, yes);
  EXPECT_EQ(qmgl_value(wide(u"1")) == text, no);
  EXPECT_EQ(bin({1}) == one, no);
  EXPECT_EQ(array_of({1}) == one, no);
  EXPECT_EQ(qmgl_value(true) == one, no);
  expect_invalid_operation([&] { static_cast<void>(one < text); });
  expect_invalid_operation([&] { static_cast<void>(one > text); });
  expect_invalid_operation([&] { static_cast<void>(one <= text); });
  expect_invalid_operation([&] { static_cast<void>(one >= text); });
  expect_invalid_operation([&] { static_cast<void>(qmgl_value(true) < one); });
  expect_invalid_operation([&] { static_cast<void>(array_of({}) < bin({})); });
}

TEST(ValueComparison, BooleansOfBothKindsCompareTogether) {
  qmgl_value const b_true(true);
  qmgl_value const b_false(false);
  qmgl_value const t3(qmgl_bool3_true);
  qmgl_value const f3(qmgl_bool3_false);
  qmgl_value const u3(qmgl_bool3_unknown);

  EXPECT_EQ(b_true == t3, yes);
  EXPECT_EQ(t3 == b_true, yes);
  EXPECT_EQ(b_false == f3, yes);
  EXPECT_EQ(u3 == b_false, no);
  EXPECT_EQ(u3 == u3, yes) << "an unknown value held is a value, not a NULL";
  EXPECT_EQ(u3 != qmgl_value(qmgl_bool3_unknown), no);

  // Ordered unknown < false < true.
  EXPECT_EQ(u3 < b_false, yes);
  EXPECT_EQ(u3 < f3, yes);
  EXPECT_EQ(f3 < t3, yes);
  EXPECT_EQ(t3 < u3, no);
  EXPECT_EQ(b_false < b_true, yes);
  EXPECT_EQ(b_true < b_false, no);
  EXPECT_EQ(b_true < b_true, no);
  EXPECT_EQ(b_false < t3, yes);
  EXPECT_EQ(b_true >= t3, yes);
}

TEST(ValueComparison, ArraysCompareAsTrueOrFalse) {
  qmgl_value const one_null = array_of({qmgl_value()});
  EXPECT_EQ(one_null == array_of({5}), yes) << "(NULL) equals (5), not unknown";
  EXPECT_EQ(one_null != array_of({5}), no);
  EXPECT_EQ(array_of({1, 2}) == array_of({1, 2}), yes);
  EXPECT_EQ(array_of({1, 2}) == array_of({1, 2, 3}), no);
  EXPECT_EQ(array_of({1, 2}) < array_of({1, 2, 3}), yes);
  EXPECT_EQ(array_of({1, 3}) > array_of({1, 2, 9}), yes);
  expect_invalid_operation([] { static_cast<void>(array_of({1}) < array_of({"a"})); });
}

TEST(ValueComparison, AppendTurnsAValueIntoAnArray) {
  qmgl_value v(1);
  v += qmgl_value(2);
  EXPECT_EQ(text_of(v), "(1  , 2  )  ");
  v += array_list({3, 4});
  EXPECT_EQ(text_of(v), "(1  , 2  , 3  , 4  )  ");
  v -= qmgl_value(2);
  EXPECT_EQ(text_of(v), "(1  , 3  , 4  )  ");
  v -= array_list({4, 1});
  EXPECT_EQ(text_of(v), "(3  )  ");

  qmgl_value n;
  n += qmgl_value(1);
  EXPECT_EQ(text_of(n), "(null , 1  )  ");

  qmgl_value s("s");
  s += array_list({});
  EXPECT_EQ(text_of(s), "('s' )  ");

  qmgl_value self(7);
  self += self;
  EXPECT_EQ(text_of(self), "(7  , 7  )  ");
  self += self;
  EXPECT_EQ(text_of(self), "(7  , 7  , 7  , 7  )  ");
  self -= self;
  EXPECT_EQ(text_of(self), "()  ");
}

TEST(ValueComparison, RemovingFromANonArrayRaisesAndChangesNothing) {
  qmgl_value v(1);
  qmgl_value_base* const body = v._body;
  for (auto const& remove : std::vector<std::function<void()>>{[&] { v -= qmgl_value(1); },
                                                               [&] { v -= array_list({1}); }}) {
    raised const r = raise_of(remove);
    EXPECT_EQ(r.type, typeid(exc_should_not_execute_t));
    EXPECT_EQ(r.code, 0x20030004u);
    EXPECT_STREQ(r.file, "src/qmgl/qmgl_value");
    EXPECT_EQ(r.message, "exc_should_not_execute");
    EXPECT_EQ(v._body, body);
    EXPECT_EQ(v.as_int(), 1);
  }
}

TEST(ValueComparison, AppendingToACopyLeavesTheOriginal) {
  qmgl_value const original = array_of({1});
  qmgl_value copy = original;
  copy += qmgl_value(2);
  EXPECT_EQ(text_of(original), "(1  )  ");
  EXPECT_EQ(text_of(copy), "(1  , 2  )  ");
}

}  // namespace
