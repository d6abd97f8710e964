#include <chrono>
#include <climits>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <new>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_ban.h>
#include <wygl/qmgl_bitstr.h>
#include <wygl/qmgl_env.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_hex.h>
#include <wygl/qmgl_local.h>
#include <wygl/qmgl_sleep.h>

namespace {

using namespace std::chrono_literals;

// --- the no-copy bases and the types built on them ---------------------------------------

struct copy_banned : qmgl_ban_copy {
  int field;
};
class assignment_banned : qmgl_ban_assignment {};
struct both_banned : qmgl_ban_copy_and_assignment {};

static_assert(!std::is_copy_constructible_v<copy_banned>);
static_assert(!std::is_move_constructible_v<copy_banned>);
static_assert(std::is_copy_assignable_v<copy_banned>);
static_assert(std::is_copy_constructible_v<assignment_banned>);
static_assert(!std::is_copy_assignable_v<assignment_banned>);
static_assert(!std::is_move_assignable_v<assignment_banned>);
static_assert(!std::is_copy_constructible_v<both_banned>);
static_assert(!std::is_copy_assignable_v<both_banned>);
static_assert(!std::is_move_assignable_v<both_banned>);
// Bases only, and empty ones.
static_assert(!std::is_default_constructible_v<qmgl_ban_copy>);
static_assert(!std::is_default_constructible_v<qmgl_ban_assignment>);
static_assert(!std::is_default_constructible_v<qmgl_ban_copy_and_assignment>);
static_assert(sizeof(copy_banned) == sizeof(int));

static_assert(!std::is_copy_constructible_v<qmgl_local_array_of<char>>);
static_assert(!std::is_copy_assignable_v<qmgl_local_array_of<char>>);
static_assert(std::is_assignable_v<qmgl_local_array_of<char>&, char*>);
static_assert(!std::is_convertible_v<unsigned, qmgl_local_array_of<char>>);
static_assert(std::is_copy_constructible_v<qmgl_char_set> &&
              std::is_copy_assignable_v<qmgl_char_set>);
static_assert(sizeof(qmgl_hex) == sizeof(unsigned) && !std::is_convertible_v<unsigned, qmgl_hex>);

// --- qmgl_bitstr ---------------------------------------------------------------------------

std::vector<unsigned char> bytes_of(qmgl_bitstr const& s) {
  return std::vector<unsigned char>(s._bytes._array, s._bytes._array + s._size);
}

void expect_test_refused(qmgl_bitstr const& s, unsigned n) {
  try {
    (void)s.test(n);
    ADD_FAILURE() << "test(" << n << ") returned";
  } catch (exc_assertion_failed_t const& e) {
    EXPECT_EQ(e.code, 0x20030000u);
    EXPECT_STREQ(e.message, "assertion failed: byte_num < _size");
    EXPECT_STREQ(e.file, "src/qmgl/qmgl_bitstr");
  }
}

TEST(SmallTypes, BitstrHoldsWholeZeroBytes) {
  for (auto [bits, bytes] : {std::pair{0u, 0u}, {1u, 1u}, {8u, 1u}, {9u, 2u}, {17u, 3u}}) {
    qmgl_bitstr const s(bits);
    EXPECT_EQ(bytes_of(s), std::vector<unsigned char>(bytes, 0)) << bits << " bits";
  }
}

TEST(SmallTypes, EmptyBitstrRefusesTestAndGrowsOnSet) {
  qmgl_bitstr s(0);
  expect_test_refused(s, 0);
  EXPECT_EQ(s._size, 0u);
  s.set(0, true);
  EXPECT_EQ(bytes_of(s), (std::vector<unsigned char>{0x01}));
  EXPECT_TRUE(s.test(0));
  expect_test_refused(s, 8);
  EXPECT_EQ(s._size, 1u);
}

TEST(SmallTypes, BitstrGrowthKeepsOldBitsAndZeroesNewOnes) {
  qmgl_bitstr s(9);
  s.set(0, true);
  s.set(9, true);
  s.set(15, true);
  s.set(20, true);
  EXPECT_EQ(bytes_of(s), (std::vector<unsigned char>{0x01, 0x82, 0x10}));
  for (unsigned n = 16; n < 24; ++n)
    EXPECT_EQ(s.test(n), n == 20) << "bit " << n;
  s.set(9, false);
  EXPECT_EQ(bytes_of(s), (std::vector<unsigned char>{0x01, 0x80, 0x10}));
}

TEST(SmallTypes, BitstrResetBeyondTheEndGrowsWithZeroes) {
  qmgl_bitstr fresh(1);
  fresh.reset(100);
  EXPECT_EQ(bytes_of(fresh), std::vector<unsigned char>(13, 0));
  EXPECT_FALSE(fresh.test(103));
  expect_test_refused(fresh, 104);

  qmgl_bitstr used(8);
  used.set(5, true);
  used.reset(100);
  std::vector<unsigned char> expected(13, 0);
  expected[0] = 0x20;
  EXPECT_EQ(bytes_of(used), expected);
}

TEST(SmallTypes, BitstrSetAndResetAllCoverEveryHeldByte) {
  qmgl_bitstr s(12);
  s.set();
  EXPECT_EQ(bytes_of(s), (std::vector<unsigned char>{0xFF, 0xFF}));
  EXPECT_TRUE(s.test(15));
  s.reset();
  EXPECT_EQ(bytes_of(s), (std::vector<unsigned char>{0x00, 0x00}));
}

TEST(SmallTypes, BitstrCopiesHaveTheirOwnBytes) {
  qmgl_bitstr original(16);
  original.set(3, true);
  qmgl_bitstr copy(original);
  EXPECT_NE(copy._bytes._array, original._bytes._array);
  copy.set(4, true);
  original.set(30, true);
  EXPECT_EQ(bytes_of(copy), (std::vector<unsigned char>{0x18, 0x00}));

  qmgl_bitstr assigned(0);
  assigned = original;
  original.reset();
  EXPECT_EQ(bytes_of(assigned), (std::vector<unsigned char>{0x08, 0x00, 0x00, 0x40}));
  assigned = static_cast<qmgl_bitstr const&>(assigned);
  EXPECT_EQ(assigned._size, 4u);
  EXPECT_TRUE(assigned.test(30));
}

// --- qmgl_char_set -------------------------------------------------------------------------

std::vector<int> members(qmgl_char_set const& set) {
  std::vector<int> found;
  for (int c = 0; c < 256; ++c)
    if (set.contains(static_cast<char>(c))) found.push_back(c);
  return found;
}

TEST(SmallTypes, CharSetUsesTheUnsignedByteValue) {
  qmgl_char_set set;
  EXPECT_EQ(set._bits._size, 32u);
  EXPECT_TRUE(members(set).empty());
  set.add(static_cast<char>(0xE9));
  set.add('\0');
  set.add(static_cast<char>(0xFF));
  EXPECT_EQ(members(set), (std::vector<int>{0x00, 0xE9, 0xFF}));
  EXPECT_FALSE(set.contains(0x69));
  EXPECT_EQ(set._bits._size, 32u);
}

TEST(SmallTypes, CharSetDelOfAbsentValueChangesNothing) {
  qmgl_char_set set;
  set.add('a');
  set.add(static_cast<char>(0x80));
  set.del('b');
  set.del(static_cast<char>(0x81));
  EXPECT_EQ(members(set), (std::vector<int>{'a', 0x80}));
  set.del(static_cast<char>(0x80));
  EXPECT_EQ(members(set), (std::vector<int>{'a'}));
}

TEST(SmallTypes, CharSetCopiesAndEmpties) {
  qmgl_char_set set;
  set.add(',');
  qmgl_char_set const copy(set);
  set.add(';');
  set.empty();
  EXPECT_TRUE(members(set).empty());
  EXPECT_EQ(members(copy), (std::vector<int>{','}));
}

// --- qmgl_local_array_of --------------------------------------------------------------------

// Counts its constructions and destructions; the constructor throws once `fail_at` more
// objects have been built (0: never).
struct counted {
  static inline int constructed = 0;
  static inline int destroyed = 0;
  static inline int fail_at = 0;
  static void start() { constructed = destroyed = fail_at = 0; }

  int payload = 42;
  counted() {
    if (fail_at != 0 && --fail_at == 0) throw std::runtime_error("refused");
    ++constructed;
  }
  counted(counted const&) = delete;
  ~counted() { ++destroyed; }
};

TEST(SmallTypes, LocalArrayBuildsAndDestroysEveryElement) {
  counted::start();
  {
    qmgl_local_array_of<counted> a(5);
    EXPECT_EQ(counted::constructed, 5);
    EXPECT_EQ(a[4].payload, 42);
    a[1].payload = 7;
    a.resize(3);
    EXPECT_EQ(counted::constructed, 8);
    EXPECT_EQ(counted::destroyed, 5);
    EXPECT_EQ(a[1u].payload, 42);  // the old contents are not carried over
  }
  EXPECT_EQ(counted::destroyed, 8);
}

TEST(SmallTypes, LocalArrayTakesOverAnArray) {
  counted::start();
  {
    qmgl_local_array_of<counted> a;
    EXPECT_EQ(a._array, nullptr);
    counted* const given = new counted[2];
    EXPECT_EQ(a = given, given);
    EXPECT_EQ(a = given, given);  // the array already held: nothing freed
    EXPECT_EQ(counted::destroyed, 0);
    EXPECT_EQ(static_cast<counted*>(a), given);
    a = new counted[3];
    EXPECT_EQ(counted::destroyed, 2);
    a = nullptr;
    EXPECT_EQ(counted::destroyed, 5);
  }
  EXPECT_EQ(counted::constructed, 5);
  EXPECT_EQ(counted::destroyed, 5);
}

TEST(SmallTypes, LocalArrayKeepsItsArrayWhenAnElementCannotBeBuilt) {
  counted::start();
  {
    qmgl_local_array_of<counted> a(2);
    counted* const before = a;
    counted::fail_at = 3;
    EXPECT_THROW(a.resize(4), std::runtime_error);
    EXPECT_EQ(counted::constructed, 4);
    EXPECT_EQ(counted::destroyed, 2);  // the two new ones built before the failure
    EXPECT_EQ(a._array, before);
    counted::fail_at = 1;
    EXPECT_THROW(qmgl_local_array_of<counted>{1}, std::runtime_error);
  }
  EXPECT_EQ(counted::destroyed, counted::constructed);
}

// Its array allocation reports exhaustion while `refuse` is set.
struct refused_element {
  static inline bool refuse = false;
  static void* operator new[](std::size_t size) { return ::operator new[](size); }
  static void* operator new[](std::size_t size, std::nothrow_t const& tag) noexcept {
    return refuse ? nullptr : ::operator new[](size, tag);
  }
  static void operator delete[](void* block) noexcept { ::operator delete[](block); }
  static void operator delete[](void* block, std::nothrow_t const& tag) noexcept {
    ::operator delete[](block, tag);
  }
  ~refused_element() {}
};

void expect_not_enough_memory(std::function<void()> const& allocate) {
  try {
    allocate();
    ADD_FAILURE() << "the allocation succeeded";
  } catch (exc_not_enough_memory_t const& e) {
    EXPECT_EQ(e.code, 0x20000001u);
    EXPECT_STREQ(e.message, "not enough memory");
    EXPECT_STREQ(e.file, "src/qmgl/qmgl_local");
  }
}

TEST(SmallTypes, LocalArrayReportsExhaustion) {
  qmgl_local_array_of<refused_element> a(2);
  refused_element* const before = a;
  refused_element::refuse = true;
  expect_not_enough_memory([] { qmgl_local_array_of<refused_element> b(1); });
  expect_not_enough_memory([&a] { a.resize(8); });
  refused_element::refuse = false;
  EXPECT_EQ(a._array, before);
}

TEST(SmallTypes, LocalArrayOfCharResizeGivesAFreshBlock) {
  qmgl_local_array_of<char> a(4);
  a[0] = 'q';
  a[3u] = 'z';
  EXPECT_EQ(&a[3], &a[3u]);
  EXPECT_EQ(static_cast<char*>(a) + 3, &a[3]);
  char* const old = a;
  a.resize(6);
  EXPECT_NE(static_cast<char*>(a), old);
  a[5] = 'e';

  qmgl_local_array_of<unsigned char> bytes(0);
  EXPECT_NE(static_cast<unsigned char*>(bytes), nullptr);
  bytes.resize(3);
  bytes[2u] = 0xFE;
  EXPECT_EQ(bytes._array[2], 0xFE);
}

// --- environment and sleep -----------------------------------------------------------------

TEST(SmallTypes, EnvGetReadsTheEnvironment) {
  char const* const path = qmgl_env_get("PATH");
  ASSERT_NE(path, nullptr);
  EXPECT_STREQ(path, std::getenv("PATH"));
  EXPECT_EQ(qmgl_env_get("WYGL_NEVER_SET_3C9D51E07A"), nullptr);
  EXPECT_EQ(qmgl_env_get(nullptr), nullptr);
}

// Runs call on a thread of its own and tells whether it ended within limit. A call that hangs
// is left behind on its detached thread.
bool ends_within(std::chrono::milliseconds limit, std::function<void()> call) {
  auto const ended = std::make_shared<std::promise<void>>();
  std::future<void> end = ended->get_future();
  std::thread([ended, call = std::move(call)] {
    call();
    ended->set_value();
  }).detach();
  return end.wait_for(limit) == std::future_status::ready;
}

TEST(SmallTypes, SleepWaitsAtLeastTheTimeAsked) {
  auto const start = std::chrono::steady_clock::now();
  qmgl_sleep(30);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

TEST(SmallTypes, SleepOfNoTimeReturnsAtOnce) {
  EXPECT_TRUE(ends_within(5s, [] { qmgl_sleep(0); }));
  EXPECT_TRUE(ends_within(5s, [] { qmgl_sleep(-1); }));
  EXPECT_TRUE(ends_within(5s, [] { qmgl_sleep(INT_MIN); }));
}

}  // namespace
