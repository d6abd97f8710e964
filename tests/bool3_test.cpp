#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_bool3.h>

namespace {

// Rows and columns in the order unknown, false, true, written out as Kleene logic has them.
constexpr qmgl_bool3_value states[3] = {qmgl_bool3_unknown, qmgl_bool3_false, qmgl_bool3_true};

constexpr qmgl_bool3_value expected_and[3][3] = {
    {qmgl_bool3_unknown, qmgl_bool3_false, qmgl_bool3_unknown},
    {qmgl_bool3_false, qmgl_bool3_false, qmgl_bool3_false},
    {qmgl_bool3_unknown, qmgl_bool3_false, qmgl_bool3_true},
};

constexpr qmgl_bool3_value expected_or[3][3] = {
    {qmgl_bool3_unknown, qmgl_bool3_unknown, qmgl_bool3_true},
    {qmgl_bool3_unknown, qmgl_bool3_false, qmgl_bool3_true},
    {qmgl_bool3_true, qmgl_bool3_true, qmgl_bool3_true},
};

// The stored 32 bits, as an integer.
std::int32_t stored(qmgl_bool3 const& x) {
  std::int32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

qmgl_bool3 holding(std::int32_t bits) {
  return qmgl_bool3(static_cast<qmgl_bool3_value>(bits));
}

void* const non_null_one = reinterpret_cast<void*>(std::uintptr_t{1});

static_assert(sizeof(qmgl_bool3) == 4 && sizeof(qmgl_bool3_value) == 4);
static_assert(qmgl_bool3_false == 0 && qmgl_bool3_true == 1 && qmgl_bool3_unknown == -1);
static_assert(!std::is_default_constructible_v<qmgl_bool3>);
static_assert(std::is_trivially_copyable_v<qmgl_bool3>);

TEST(Bool3, ConstructedFromBoolHoldsExactlyZeroOrOne) {
  EXPECT_EQ(stored(qmgl_bool3(false)), 0);
  EXPECT_EQ(stored(qmgl_bool3(true)), 1);
  bool const computed = std::strlen("x") == 1;
  EXPECT_EQ(stored(qmgl_bool3(computed)), 1);
}

TEST(Bool3, AndFollowsTheTable) {
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) {
      SCOPED_TRACE(testing::Message() << "a=" << states[a] << " b=" << states[b]);
      EXPECT_EQ(stored(qmgl_bool3(states[a]) && qmgl_bool3(states[b])), expected_and[a][b]);
    }
}

TEST(Bool3, OrFollowsTheTable) {
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) {
      SCOPED_TRACE(testing::Message() << "a=" << states[a] << " b=" << states[b]);
      EXPECT_EQ(stored(qmgl_bool3(states[a]) || qmgl_bool3(states[b])), expected_or[a][b]);
    }
}

TEST(Bool3, NotSwapsFalseAndTrueAndKeepsUnknown) {
  EXPECT_EQ(stored(!qmgl_bool3(qmgl_bool3_false)), 1);
  EXPECT_EQ(stored(!qmgl_bool3(qmgl_bool3_true)), 0);
  EXPECT_EQ(stored(!qmgl_bool3(qmgl_bool3_unknown)), -1);
  for (qmgl_bool3_value v : states)
    EXPECT_EQ(stored(!!qmgl_bool3(v)), v);
}

TEST(Bool3, OnlyTrueCountsAsTrue) {
  EXPECT_TRUE(qmgl_bool3(true).as_bool());
  EXPECT_FALSE(qmgl_bool3(false).as_bool());
  EXPECT_FALSE(qmgl_bool3(qmgl_bool3_unknown).as_bool());

  EXPECT_EQ(static_cast<void*>(qmgl_bool3(qmgl_bool3_true)), non_null_one);
  EXPECT_EQ(static_cast<void*>(qmgl_bool3(qmgl_bool3_false)), nullptr);
  EXPECT_EQ(static_cast<void*>(qmgl_bool3(qmgl_bool3_unknown)), nullptr);

  std::vector<qmgl_bool3_value> taken;
  for (qmgl_bool3_value v : states)
    if (qmgl_bool3(v)) taken.push_back(v);
  EXPECT_EQ(taken, std::vector<qmgl_bool3_value>{qmgl_bool3_true});
}

TEST(Bool3, EqualityComparesTheStoredValues) {
  EXPECT_TRUE(qmgl_bool3(qmgl_bool3_unknown) == qmgl_bool3(qmgl_bool3_unknown));
  EXPECT_TRUE(qmgl_bool3(true) == qmgl_bool3_true);
  // Both of these are null as pointers: equality must not fall back to that.
  EXPECT_FALSE(qmgl_bool3(false) == qmgl_bool3(qmgl_bool3_unknown));
  EXPECT_TRUE(qmgl_bool3(false) != qmgl_bool3(qmgl_bool3_unknown));
  EXPECT_FALSE(holding(7) == qmgl_bool3_unknown);
}

// A field outside the three states behaves as unknown in every operation.
TEST(Bool3, OtherStoredValuesReadAsUnknown) {
  for (std::int32_t bits : {2, 7, -2, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE(bits);
    qmgl_bool3 const odd = holding(bits);
    EXPECT_EQ(stored(!odd), -1);
    EXPECT_FALSE(odd.as_bool());
    EXPECT_EQ(static_cast<void*>(odd), nullptr);
    for (int b = 0; b < 3; ++b) {
      EXPECT_EQ(stored(odd && qmgl_bool3(states[b])), expected_and[0][b]);
      EXPECT_EQ(stored(qmgl_bool3(states[b]) && odd), expected_and[b][0]);
      EXPECT_EQ(stored(odd || qmgl_bool3(states[b])), expected_or[0][b]);
      EXPECT_EQ(stored(qmgl_bool3(states[b]) || odd), expected_or[b][0]);
    }
    EXPECT_EQ(stored(odd && odd), -1);
    EXPECT_EQ(stored(odd || odd), -1);
    EXPECT_EQ(stored(qmgl_bool3(odd)), bits);  // a copy keeps what it was given
  }
}

}  // namespace
