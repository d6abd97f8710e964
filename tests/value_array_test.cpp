// Value arrays and the shared byte vectors of BIN values.

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

void expect_domain_overflow(raised const& r) {
  EXPECT_EQ(r.type, typeid(exc_domain_overflow_t));
  EXPECT_EQ(r.code, 0x2003000Cu);
  EXPECT_STREQ(r.file, "src/qmgl/qmgl_value_array");
  EXPECT_EQ(r.message, "exc_domain_overflow");
}

TEST(ValueArray, IndexIsCheckedAndGrowingMovesTheValues) {
  qmgl_value_array a;
  qmgl_value_array const& constant = a;
  expect_domain_overflow(raise_of([&] { a[0]; }));
  expect_domain_overflow(raise_of([&] { constant[0]; }));

  a += qmgl_value("kept");
  qmgl_value_base* const body = a[0]._body;
  for (int i = 1; i < 1000; ++i) {
    a += qmgl_value(i);
    ASSERT_EQ(a.get_size(), static_cast<unsigned>(i + 1));
  }
  for (unsigned i = 1; i < 1000; ++i)
    ASSERT_EQ(a[i].as_int(), static_cast<int>(i));
  EXPECT_EQ(a[0]._body, body) << "moved, not copied";
  expect_domain_overflow(raise_of([&] { a[1000]; }));
  expect_domain_overflow(raise_of([&] { constant[0xFFFFFFFFu]; }));
  a[0] = "replaced";
  EXPECT_STREQ(constant[0].as_charp(), "replaced");
}

TEST(ValueArray, AppendAndRemoveReadTheirArgumentFirst) {
  // The array itself, at sizes on both sides of the growth of its block.
  for (unsigned n = 0; n < 10; ++n) {
    qmgl_value_array twice;
    for (unsigned i = 0; i < n; ++i)
      twice += qmgl_value(static_cast<int>(i));
    qmgl_value_array through_a_value = twice;
    twice += twice;
    through_a_value += qmgl_value(through_a_value);
    ASSERT_EQ(twice.get_size(), 2 * n);
    for (unsigned i = 0; i < 2 * n; ++i)
      EXPECT_EQ(twice[i].as_int(), static_cast<int>(i % n));
    EXPECT_EQ(text_of(through_a_value), text_of(twice));
  }

  // Its own elements: the element must survive the growth of the block.
  qmgl_value_array own;
  own += qmgl_value("s");
  for (unsigned n = 1; n < 40; ++n) {
    own += own[0];
    ASSERT_STREQ(own[n].as_charp(), "s");
    ASSERT_NE(own[n]._body, own[0]._body);
  }
  qmgl_value_array nested;
  nested += qmgl_value(0);
  nested[0] = array_list({1, 2});
  for (int round = 0; round < 3; ++round)
    nested += nested[0];
  EXPECT_EQ(text_of(nested), "((1  , 2  )  , 1  , 2  , 1  , 2  , 1  , 2  ) ");
  own = array_list({1, 2, 1, 3});
  own -= own[0];
  EXPECT_EQ(text_of(own), "(2  , 3  ) ");
  own -= own;
  EXPECT_EQ(text_of(own), "() ");
}

TEST(ValueArray, CopiesAreDeep) {
  qmgl_value_array const a = array_list({1, "two"});
  qmgl_value_array copy(a);
  EXPECT_NE(copy[0]._body, a[0]._body);
  copy[0] = 10;
  copy += qmgl_value(4);
  EXPECT_EQ(text_of(a), "(1  , 'two' ) ");
  EXPECT_EQ(text_of(copy), "(10  , 'two' , 4  ) ");

  qmgl_value_array assigned = array_list({9, 9, 9, 9, 9});
  assigned = a;
  qmgl_value_array const& same = assigned;
  assigned = same;
  EXPECT_EQ(text_of(assigned), "(1  , 'two' ) ");
  assigned = qmgl_value_array();
  EXPECT_EQ(text_of(assigned), "() ");

  // An array that lives inside one of the array's own elements.
  qmgl_value_array outer;
  outer += qmgl_value(0);
  outer[0] = array_list({5, 6});
  outer = outer[0].as_value_array();
  EXPECT_EQ(text_of(outer), "(5  , 6  ) ");
}

TEST(ValueArray, ContainsNeedsATrueComparison) {
  qmgl_value_array const mixed = array_list({1, "a", qmgl_value(), qmgl_value(qmgl_bool3_false)});
  std::string found;
  for (qmgl_value const& v :
       {qmgl_value("a"), qmgl_value(1), qmgl_value(false), qmgl_value(2), bin({}), qmgl_value()})
    found += mixed.contains(v) ? 'T' : 'F';
  EXPECT_EQ(found, "TTTFFF");
  EXPECT_FALSE(array_list({qmgl_value()}).contains(qmgl_value()));
  EXPECT_FALSE(qmgl_value_array().contains(1));
}

TEST(ValueArray, ByteVectorsShareImmutableBodies) {
  unsigned char const raw[] = {0x01, 0x80, 0xFF};
  bytes const three(raw, 3);
  EXPECT_NE(static_cast<unsigned char const*>(three), raw) << "copied";
  bytes assigned;
  assigned = three;
  assigned = static_cast<bytes const&>(assigned);
  EXPECT_EQ(static_cast<unsigned char const*>(assigned), static_cast<unsigned char const*>(three));
  EXPECT_EQ(three._imp->count.value(), 2);
  bytes const two = bytes_of({0x0A, 0x0B});
  EXPECT_EQ(bytes_in(three + two), (std::vector<unsigned char>{0x01, 0x80, 0xFF, 0x0A, 0x0B}));
  EXPECT_EQ(bytes_in(three), (std::vector<unsigned char>{0x01, 0x80, 0xFF})) << "unchanged";
  bytes const none;
  EXPECT_EQ(static_cast<unsigned char const*>(none), nullptr);
  EXPECT_EQ((none + none).get_size(), 0u);
  EXPECT_EQ(bytes_in(none + two), bytes_in(two));
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
