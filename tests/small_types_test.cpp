// The small building blocks: the no-copy bases, qmgl_bitstr, qmgl_char_set,
// qmgl_local_array_of, qmgl_env_get, qmgl_sleep, the three-valued boolean and the interlocked
// counter.

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <memory>
#include <new>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_ban.h>
#include <wygl/qmgl_bitstr.h>
#include <wygl/qmgl_bool3.h>
#include <wygl/qmgl_env.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_local.h>
#include <wygl/qmgl_sleep.h>
#include <wygl/qmgl_sync.h>

#include "support/raised.h"

namespace {

struct copy_banned : qmgl_ban_copy {
  int field;
};
class assignment_banned : qmgl_ban_assignment {};
struct both_banned : qmgl_ban_copy_and_assignment {};

static_assert(!std::is_copy_constructible_v<copy_banned> && std::is_copy_assignable_v<copy_banned>);
static_assert(std::is_copy_constructible_v<assignment_banned> &&
              !std::is_copy_assignable_v<assignment_banned>);
static_assert(!std::is_copy_constructible_v<both_banned> &&
              !std::is_copy_assignable_v<both_banned>);
static_assert(sizeof(copy_banned) == sizeof(int), "the bases are empty");
static_assert(!std::is_copy_constructible_v<qmgl_local_array_of<char>> &&
              !std::is_copy_assignable_v<qmgl_local_array_of<char>>);

std::vector<unsigned char> bytes_of(qmgl_bitstr const& s) {
  return std::vector<unsigned char>(s._bytes._array, s._bytes._array + s._size);
}

// What test(n) raises: nothing, or the failed check of the bit's byte.
void expect_test_refused(qmgl_bitstr const& s, unsigned n) {
  raised const r = raise_of([&] { (void)s.test(n); });
  EXPECT_EQ(r.type, typeid(exc_assertion_failed_t)) << n;
  EXPECT_EQ(r.message, "assertion failed: byte_num < _size");
  EXPECT_STREQ(r.file, "src/qmgl/qmgl_bitstr");
}

// Counts its constructions and destructions; the constructor throws once `fail_at` more
// objects have been built (0: never).
struct counted {
  static inline int constructed = 0;
  static inline int destroyed = 0;
  static inline int fail_at = 0;
  int payload = 42;
  counted() {
    if (fail_at != 0 && --fail_at == 0) throw std::runtime_error("refused");
    ++constructed;
  }
  counted(counted const&) = delete;
  ~counted() { ++destroyed; }
};

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

}  // namespace

TEST(SmallTypes, BitstrGrowsOnSetButNeverOnTest) {
  for (auto [bits, bytes] : {std::pair{0u, 0u}, {1u, 1u}, {8u, 1u}, {9u, 2u}, {17u, 3u}})
    EXPECT_EQ(bytes_of(qmgl_bitstr(bits)), std::vector<unsigned char>(bytes, 0)) << bits;

  qmgl_bitstr empty(0);
  expect_test_refused(empty, 0);
  empty.set(0, true);
  EXPECT_EQ(bytes_of(empty), std::vector<unsigned char>{0x01});
  EXPECT_TRUE(empty.test(0));
  expect_test_refused(empty, 8);

  qmgl_bitstr s(9);
  s.set(0, true);
  s.set(9, true);
  s.set(15, true);
  s.set(20, true);  // grows to 3 bytes, the new bits zero
  EXPECT_EQ(bytes_of(s), (std::vector<unsigned char>{0x01, 0x82, 0x10}));
  EXPECT_TRUE(s.test(20) && !s.test(21) && !s.test(16));
  s.set(9, false);
  s.reset(100);  // grows to 13 bytes
  std::vector<unsigned char> expected{0x01, 0x80, 0x10};
  expected.resize(13);
  EXPECT_EQ(bytes_of(s), expected);
  expect_test_refused(s, 104);

  qmgl_bitstr copy(s);
  EXPECT_NE(copy._bytes._array, s._bytes._array);
  s.set();
  EXPECT_EQ(bytes_of(s), std::vector<unsigned char>(13, 0xFF));
  EXPECT_EQ(bytes_of(copy), expected) << "a copy has its own bytes";
  copy = s;
  s.reset();
  EXPECT_EQ(bytes_of(s), std::vector<unsigned char>(13, 0));
  copy = static_cast<qmgl_bitstr const&>(copy);
  EXPECT_EQ(bytes_of(copy), std::vector<unsigned char>(13, 0xFF));
}

TEST(SmallTypes, CharSetUsesTheUnsignedByteValue) {
  auto const members = [](qmgl_char_set const& set) {
    std::vector<int> found;
    for (int c = 0; c < 256; ++c)
      if (set.contains(static_cast<char>(c))) found.push_back(c);
    return found;
  };
  qmgl_char_set set;
  EXPECT_EQ(set._bits._size, 32u);
  for (int c : {0xE9, 0x00, 0xFF, 0x80, int{','}})
    set.add(static_cast<char>(c));
  set.del('b');
  set.del(static_cast<char>(0x81));
  set.del(static_cast<char>(0x80));
  EXPECT_EQ(members(set), (std::vector<int>{0x00, ',', 0xE9, 0xFF}));
  qmgl_char_set const copy(set);
  set.empty();
  EXPECT_TRUE(members(set).empty());
  EXPECT_EQ(members(copy), (std::vector<int>{0x00, ',', 0xE9, 0xFF}));
  EXPECT_EQ(set._bits._size, 32u);
}

TEST(SmallTypes, LocalArrayBuildsAndDestroysEveryElementAndKeepsItsArrayOnFailure) {
  counted::constructed = counted::destroyed = counted::fail_at = 0;
  {
    qmgl_local_array_of<counted> a(5);
    EXPECT_EQ(counted::constructed, 5);
    a[1].payload = 7;
    a.resize(3);
    EXPECT_EQ(counted::destroyed, 5);
    EXPECT_EQ(a[1u].payload, 42) << "the old contents are not carried over";
    counted* const before = a;
    counted::fail_at = 3;
    EXPECT_THROW(a.resize(4), std::runtime_error);
    EXPECT_EQ(counted::destroyed, 7) << "the two new ones built before the failure";
    EXPECT_EQ(a._array, before);
    counted* const given = new counted[2];
    EXPECT_EQ(a = given, given);
    EXPECT_EQ(a = given, given) << "the array already held: nothing freed";
    EXPECT_EQ(counted::destroyed, 10);
    a = nullptr;
    EXPECT_EQ(counted::destroyed, 12);
  }
  EXPECT_EQ(counted::destroyed, counted::constructed);

  qmgl_local_array_of<refused_element> r(2);
  refused_element* const before = r;
  refused_element::refuse = true;
  for (raised const& e : {raise_of([] { qmgl_local_array_of<refused_element> b(1); }),
                          raise_of([&r] { r.resize(8); })}) {
    EXPECT_EQ(e.type, typeid(exc_not_enough_memory_t));
    EXPECT_EQ(e.message, "not enough memory");
    EXPECT_STREQ(e.file, "src/qmgl/qmgl_local");
  }
  refused_element::refuse = false;
  EXPECT_EQ(r._array, before);
}

TEST(SmallTypes, EnvGetAndSleep) {
  ASSERT_NE(qmgl_env_get("PATH"), nullptr);
  EXPECT_STREQ(qmgl_env_get("PATH"), std::getenv("PATH"));
  EXPECT_EQ(qmgl_env_get("WYGL_NEVER_SET_3C9D51E07A"), nullptr);
  EXPECT_EQ(qmgl_env_get(nullptr), nullptr);

  auto const start = std::chrono::steady_clock::now();
  qmgl_sleep(30);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
  // No time, or less than none, returns at once. A call that hangs is left behind on its
  // detached thread.
  auto const ended = std::make_shared<std::promise<void>>();
  std::future<void> end = ended->get_future();
  std::thread([ended] {
    for (int ms : {0, -1, INT_MIN})
      qmgl_sleep(ms);
    ended->set_value();
  }).detach();
  EXPECT_EQ(end.wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

static_assert(sizeof(qmgl_bool3) == 4 && sizeof(qmgl_bool3_value) == 4);
static_assert(qmgl_bool3_false == 0 && qmgl_bool3_true == 1 && qmgl_bool3_unknown == -1);
static_assert(!std::is_default_constructible_v<qmgl_bool3>);

TEST(SmallTypes, Bool3FollowsKleenesTables) {
  constexpr qmgl_bool3_value U = qmgl_bool3_unknown;
  constexpr qmgl_bool3_value F = qmgl_bool3_false;
  constexpr qmgl_bool3_value T = qmgl_bool3_true;
  // Rows and columns in the order unknown, false, true; a stored value outside the three states
  // reads as unknown in every operation.
  constexpr qmgl_bool3_value and_table[3][3] = {{U, F, U}, {F, F, F}, {U, F, T}};
  constexpr qmgl_bool3_value or_table[3][3] = {{U, U, T}, {U, F, T}, {T, T, T}};
  constexpr qmgl_bool3_value negation[3] = {U, T, F};
  std::int32_t const stored[] = {U, F, T, 2, 7, -2, INT32_MIN, INT32_MAX};
  auto const row = [](std::int32_t v) { return v == F || v == T ? v + 1 : 0; };
  for (std::int32_t const a : stored) {
    SCOPED_TRACE(a);
    qmgl_bool3 const x(static_cast<qmgl_bool3_value>(a));
    EXPECT_EQ(qmgl_bool3(x).value, a) << "a copy keeps what it was given";
    EXPECT_EQ((!x).value, negation[row(a)]);
    EXPECT_EQ((!!x).value, a == F || a == T ? a : U);
    EXPECT_EQ(x.as_bool(), a == T);
    EXPECT_EQ(static_cast<void*>(x), a == T ? reinterpret_cast<void*>(std::uintptr_t{1}) : nullptr);
    EXPECT_EQ(x == qmgl_bool3(U), a == U) << "equality compares the stored values";
    for (std::int32_t const b : stored) {
      qmgl_bool3 const y(static_cast<qmgl_bool3_value>(b));
      EXPECT_EQ((x && y).value, and_table[row(a)][row(b)]) << b;
      EXPECT_EQ((x || y).value, or_table[row(a)][row(b)]) << b;
    }
  }
  EXPECT_EQ(qmgl_bool3(true).value, 1);
  EXPECT_EQ(qmgl_bool3(false).value, 0);
}

static_assert(sizeof(qmgl_sync_value) == 4, "the counter is 32 bits wide on every platform");

TEST(SmallTypes, SyncValueOperationsReturnTheDocumentedValuesIn32Bits) {
  qmgl_sync_value v(5);
  // A braced list is evaluated in order.
  EXPECT_EQ((std::vector<long>{v.add(3), v.swap(1), v.compare_and_swap(2, 9), v.value(),
                               v.compare_and_swap(1, 9), v.value(), v.decrement(), v.add(-10)}),
            (std::vector<long>{8, 8, 1, 1, 1, 9, 8, -2}));
  qmgl_sync_value w;
  EXPECT_EQ((std::vector<long>{w.value(), w.increment(), w.decrement(), w.decrement()}),
            (std::vector<long>{0, 1, 0, -1}));
  v = qmgl_sync_value(42);
  qmgl_sync_value copy(v);
  EXPECT_EQ(v.increment(), 43);
  EXPECT_EQ(copy.value(), 42) << "a copy takes the value, not the counter";

  // Wrapping as a 32-bit integer; where long is wider, arguments keep their low 32 bits.
  auto const as_long = [](std::int64_t wide) { return static_cast<long>(wide); };
  qmgl_sync_value m(0x7FFFFFFF);
  EXPECT_EQ((std::vector<long>{m.increment(), m.decrement(), m.add(2), m.add(-3),
                               m.add(as_long(0x1FFFFFFFF)), m.swap(as_long(0x300000007)),
                               m.compare_and_swap(as_long(0x400000007), as_long(0x500000003)),
                               m.value()}),
            (std::vector<long>{-2147483647L - 1, 0x7FFFFFFF, -2147483647L, 0x7FFFFFFE, 0x7FFFFFFD,
                               0x7FFFFFFD, 7, 3}));
}

TEST(SmallTypes, SyncValueChangesAreAtomic) {
  // Eight threads each add 1000 to one counter, drop 1000 of 8000 counts from another (exactly
  // one decrement sees 0), and race to change a flag from 0 to their own number (exactly one
  // wins). Repeated to give the races some chances.
  for (int round = 0; round < 20; ++round) {
    qmgl_sync_value sum;
    qmgl_sync_value count(8000);
    qmgl_sync_value flag;
    std::atomic<int> saw_zero{0};
    std::atomic<int> winners{0};
    std::vector<std::thread> threads;
    for (int t = 1; t <= 8; ++t)
      threads.emplace_back([&, t] {
        if (flag.compare_and_swap(0, t) == 0) winners.fetch_add(1);
        for (int i = 0; i < 1000; ++i) {
          sum.increment();
          if (count.decrement() == 0) saw_zero.fetch_add(1);
        }
      });
    for (auto& th : threads)
      th.join();
    EXPECT_EQ(sum.value(), 8000);
    EXPECT_EQ(count.value(), 0);
    EXPECT_EQ(saw_zero.load(), 1);
    EXPECT_EQ(winners.load(), 1);
    EXPECT_TRUE(flag.value() >= 1 && flag.value() <= 8);
  }
}
