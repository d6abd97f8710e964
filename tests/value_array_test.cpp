#include <string>
#include <thread>
#include <typeindex>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_refcounted_vector.h>
#include <wygl/qmgl_value.h>
#include <wygl/qmgl_value_array.h>

#include "support/raised.h"
#include "support/value_helpers.h"

namespace {

using bytes = qmgl_refcounted_vector_of<unsigned char>;

// The text of an array, for comparing whole arrays at a glance.
std::string shown(qmgl_value_array const& a) {
  return text_of(a);
}

void expect_domain_overflow(raised const& r) {
  EXPECT_EQ(r.type, typeid(exc_domain_overflow_t));
  EXPECT_EQ(r.code, 0x2003000Cu);
  EXPECT_STREQ(r.file, "src/qmgl/qmgl_value_array");
  EXPECT_EQ(r.message, "exc_domain_overflow");
}

TEST(ValueArray, IndexBeyondTheSizeRaises) {
  qmgl_value_array a;
  EXPECT_EQ(a.get_size(), 0u);
  expect_domain_overflow(raise_of([&] { a[0]; }));
  qmgl_value_array const& constant = a;
  expect_domain_overflow(raise_of([&] { constant[0]; }));

  a += qmgl_value(1);
  a += qmgl_value(2);
  EXPECT_EQ(a.get_size(), 2u);
  EXPECT_EQ(a[1].as_int(), 2);
  expect_domain_overflow(raise_of([&] { a[a.get_size()]; }));
  expect_domain_overflow(raise_of([&] { a[0xFFFFFFFFu]; }));
  EXPECT_EQ(shown(a), "(1  , 2  ) ") << "unchanged";

  a[0] = "replaced";
  EXPECT_EQ(shown(a), "('replaced' , 2  ) ");
}

TEST(ValueArray, SizeIsExactAfterEveryAppend) {
  qmgl_value_array a;
  for (int i = 0; i < 1000; ++i) {
    a += qmgl_value(i);
    ASSERT_EQ(a.get_size(), static_cast<unsigned>(i + 1));
  }
  for (int i = 0; i < 1000; ++i)
    ASSERT_EQ(a[static_cast<unsigned>(i)].as_int(), i);
  expect_domain_overflow(raise_of([&] { a[1000]; }));
}

TEST(ValueArray, GrowingMovesTheValuesWithoutCopying) {
  qmgl_value_array a;
  a += qmgl_value("kept");
  qmgl_value_base* const body = a[0]._body;
  for (int i = 0; i < 100; ++i)
    a += qmgl_value(i);
  EXPECT_EQ(a[0]._body, body);
}

TEST(ValueArray, AppendingAnArrayAppendsItsElements) {
  qmgl_value_array a;
  a += array_of({1, 2});
  EXPECT_EQ(shown(a), "(1  , 2  ) ") << "not an array holding an array";
  a += array_list({3, "x"});
  EXPECT_EQ(shown(a), "(1  , 2  , 3  , 'x' ) ");
  a += array_list({});
  a += array_of({});
  EXPECT_EQ(a.get_size(), 4u);
  a += qmgl_value();
  EXPECT_EQ(shown(a), "(1  , 2  , 3  , 'x' , null ) ");

  // An element can still be made an array through operator[].
  a[0] = array_list({7, 8});
  EXPECT_EQ(shown(a), "((7  , 8  )  , 2  , 3  , 'x' , null ) ");
}

TEST(ValueArray, AppendingTheArrayToItselfDoublesIt) {
  for (unsigned n = 0; n < 10; ++n) {
    qmgl_value_array a;
    for (unsigned i = 0; i < n; ++i)
      a += qmgl_value(static_cast<int>(i));
    qmgl_value_array b = a;
    a += a;
    ASSERT_EQ(a.get_size(), 2 * n);
    for (unsigned i = 0; i < n; ++i) {
      EXPECT_EQ(a[i].as_int(), static_cast<int>(i));
      EXPECT_EQ(a[n + i].as_int(), static_cast<int>(i));
    }
    b += qmgl_value(b);
    EXPECT_TRUE(b == a);
  }
}

TEST(ValueArray, AppendingOwnElementsReadsThemFirst) {
  // Sizes that cross the growth of the storage: the element must survive it.
  qmgl_value_array a;
  a += qmgl_value("s");
  for (unsigned n = 1; n < 40; ++n) {
    a += a[0];
    ASSERT_EQ(a.get_size(), n + 1);
    ASSERT_STREQ(a[n].as_charp(), "s");
    ASSERT_NE(a[n]._body, a[0]._body);
  }

  qmgl_value_array nested;
  nested += qmgl_value(0);
  nested[0] = array_list({1, 2});
  for (int round = 0; round < 5; ++round)
    nested += nested[0];
  EXPECT_EQ(shown(nested), "((1  , 2  )  , 1  , 2  , 1  , 2  , 1  , 2  , 1  , 2  , 1  , 2  ) ");
}

TEST(ValueArray, CopiesAreDeep) {
  qmgl_value_array const a = array_list({1, "two", array_of({})});
  qmgl_value_array copy(a);
  EXPECT_TRUE(copy == a);
  EXPECT_NE(copy[0]._body, a[0]._body);
  copy[0] = 10;
  copy += qmgl_value(4);
  EXPECT_EQ(shown(a), "(1  , 'two' ) ");
  EXPECT_EQ(shown(copy), "(10  , 'two' , 4  ) ");

  qmgl_value_array assigned = array_list({9, 9, 9, 9, 9});
  assigned = a;
  EXPECT_EQ(shown(assigned), "(1  , 'two' ) ");
  qmgl_value_array const& same = assigned;
  assigned = same;
  EXPECT_EQ(shown(assigned), "(1  , 'two' ) ");
  assigned = qmgl_value_array();
  EXPECT_EQ(assigned.get_size(), 0u);

  // Assigning an array that lives inside one of the array's own elements.
  qmgl_value_array outer;
  outer += qmgl_value(0);
  outer[0] = array_list({5, 6});
  outer = outer[0].as_value_array();
  EXPECT_EQ(shown(outer), "(5  , 6  ) ");
}

TEST(ValueArray, RemovalTakesEveryEqualElement) {
  qmgl_value_array a = array_list({1, 2, 2, 3});
  a -= qmgl_value(2);
  EXPECT_EQ(shown(a), "(1  , 3  ) ");

  a = array_list({1, qmgl_value(), 1});
  a -= qmgl_value();
  EXPECT_EQ(shown(a), "(1  , null , 1  ) ") << "NULL compares unknown: nothing goes";

  a = array_list({qmgl_value(), 1});
  qmgl_value_array only_null;
  only_null += qmgl_value();
  a -= only_null;
  EXPECT_EQ(shown(a), "(null , 1  ) ");

  a = array_list({1, "1", 2, "x", 3});
  a -= array_of({"x", 1, 3});
  EXPECT_EQ(shown(a), "('1' , 2  ) ") << "types never match across, and never raise";

  a = array_list({true, qmgl_value(qmgl_bool3_true), false, qmgl_value(qmgl_bool3_unknown)});
  a -= qmgl_value(true);
  EXPECT_EQ(shown(a), "(false , unknown ) ") << "BOOL and BOOL3 compare with each other";

  a = array_list({1, 2});
  a -= array_list({});
  a -= qmgl_value(5);
  EXPECT_EQ(shown(a), "(1  , 2  ) ");
  qmgl_value_array empty;
  empty -= qmgl_value(1);
  EXPECT_EQ(empty.get_size(), 0u);
}

TEST(ValueArray, RemovingTheArrayFromItselfKeepsTheUnknowns) {
  qmgl_value_array a = array_list({qmgl_value(), 1, "x", qmgl_value(), bin({1})});
  a -= a;
  EXPECT_EQ(shown(a), "(null , null ) ");

  a = array_list({1, 2, 1, 3});
  a -= a[0];
  EXPECT_EQ(shown(a), "(2  , 3  ) ");
  a = array_list({1, 2, 1, 3});
  a -= a[3];
  EXPECT_EQ(shown(a), "(1  , 2  , 1  ) ");
}

TEST(ValueArray, ContainsNeedsATrueComparison) {
  qmgl_value_array const a = array_list({1, "a", qmgl_value()});
  EXPECT_TRUE(a.contains("a"));
  EXPECT_TRUE(a.contains(1));
  EXPECT_FALSE(a.contains(2));
  EXPECT_FALSE(a.contains(bin({})));
  EXPECT_FALSE(a.contains(qmgl_value()));
  qmgl_value_array only_null;
  only_null += qmgl_value();
  EXPECT_FALSE(only_null.contains(qmgl_value()));
  EXPECT_FALSE(qmgl_value_array().contains(1));
  EXPECT_TRUE(array_list({qmgl_value(qmgl_bool3_false)}).contains(false));
}

TEST(ValueArray, EqualityAndOrder) {
  qmgl_value_array null_only;
  null_only += qmgl_value();
  EXPECT_TRUE(null_only == array_list({5}));
  EXPECT_FALSE(array_list({1, 2}) == array_list({1, 2, 3}));
  EXPECT_FALSE(array_list({1, 2}) == array_list({1, 3}));
  EXPECT_FALSE(array_list({1}) == array_list({"1"}));
  EXPECT_TRUE(qmgl_value_array() == qmgl_value_array());

  EXPECT_TRUE(array_list({1, 2}) < array_list({1, 2, 3}));
  EXPECT_FALSE(array_list({1, 2, 3}) < array_list({1, 2}));
  EXPECT_FALSE(array_list({1, 3}) < array_list({1, 2, 9}));
  EXPECT_TRUE(array_list({1, 2, 9}) < array_list({1, 3}));
  EXPECT_FALSE(array_list({1, 2}) < array_list({1, 2}));
  EXPECT_TRUE(qmgl_value_array() < array_list({qmgl_value()}));
  EXPECT_TRUE(array_list({qmgl_value(), 1}) < array_list({7, 2})) << "unknown is passed over";

  raised const r = raise_of([] { static_cast<void>(array_list({1}) < array_list({"a"})); });
  EXPECT_EQ(r.type, typeid(exc_invalid_operation_t));
  EXPECT_EQ(r.message, "exc_invalid_operation");
  EXPECT_TRUE(array_list({1, 1}) < array_list({2, "a"})) << "decided before the mismatch";
}

TEST(ValueArray, PrintsEachElementWithItsOwnSpaces) {
  EXPECT_EQ(shown(qmgl_value_array()), "() ");
  EXPECT_EQ(shown(array_list({1, 2})), "(1  , 2  ) ");
  EXPECT_EQ(shown(array_list({"x"})), "('x' ) ");
  qmgl_value_array only_null;
  only_null += qmgl_value();
  EXPECT_EQ(shown(only_null), "(null ) ");
}

TEST(ValueArray, ByteVectorsShareImmutableBodies) {
  unsigned char const raw[] = {0x01, 0x80, 0xFF};
  bytes const three(raw, 3);
  EXPECT_EQ(three.get_size(), 3u);
  EXPECT_NE(static_cast<unsigned char const*>(three), raw);
  EXPECT_EQ(bytes_in(three), (std::vector<unsigned char>{0x01, 0x80, 0xFF}));
  EXPECT_EQ(three._imp->count.value(), 1);
  {
    bytes const copy = three;
    EXPECT_EQ(static_cast<unsigned char const*>(copy), static_cast<unsigned char const*>(three));
    EXPECT_EQ(three._imp->count.value(), 2);
  }
  EXPECT_EQ(three._imp->count.value(), 1);

  bytes const two = bytes_of({0x0A, 0x0B});
  bytes const joined = three + two;
  EXPECT_EQ(joined.get_size(), 5u);
  EXPECT_EQ(bytes_in(joined), (std::vector<unsigned char>{0x01, 0x80, 0xFF, 0x0A, 0x0B}));
  EXPECT_EQ(bytes_in(three), (std::vector<unsigned char>{0x01, 0x80, 0xFF})) << "unchanged";

  bytes const none;
  EXPECT_EQ(none.get_size(), 0u);
  EXPECT_EQ(static_cast<unsigned char const*>(none), nullptr);
  EXPECT_EQ((none + none).get_size(), 0u);
  EXPECT_EQ(bytes_in(none + two), bytes_in(two));

  bytes assigned;
  assigned = three;
  bytes const& same = assigned;
  assigned = same;
  EXPECT_EQ(three._imp->count.value(), 2);
  EXPECT_EQ(bytes_in(assigned), bytes_in(three));
}

TEST(ValueArray, ByteVectorCopiesMayComeAndGoOnManyThreads) {
  bytes const shared = bytes_of({1, 2, 3});
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&shared] {
      for (int i = 0; i < 10000; ++i) {
        bytes copy = shared;
        bytes another(copy);
        copy = another;
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(shared._imp->count.value(), 1);
  EXPECT_EQ(bytes_in(shared), (std::vector<unsigned char>{1, 2, 3}));
}

}  // namespace
