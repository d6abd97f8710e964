#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_sync.h>

namespace {

static_assert(sizeof(qmgl_sync_value) == 4, "the counter is 32 bits wide on every platform");

// A long that holds `wide` where long is 64 bits and its low 32 bits where long is 32 bits.
long as_long(std::int64_t wide) {
  return static_cast<long>(wide);
}

TEST(SyncValue, DocumentedSequence) {
  qmgl_sync_value v(5);
  EXPECT_EQ(v.value(), 5);
  EXPECT_EQ(v.add(3), 8);
  EXPECT_EQ(v.swap(1), 8);
  EXPECT_EQ(v.value(), 1);
  EXPECT_EQ(v.compare_and_swap(2, 9), 1);
  EXPECT_EQ(v.value(), 1);
  EXPECT_EQ(v.compare_and_swap(1, 9), 1);
  EXPECT_EQ(v.value(), 9);
  EXPECT_EQ(v.decrement(), 8);
  EXPECT_EQ(v.add(-10), -2);
  EXPECT_EQ(v.value(), -2);
}

TEST(SyncValue, StartsAtZeroAndCopiesPlainly) {
  qmgl_sync_value v;
  EXPECT_EQ(v.value(), 0);
  EXPECT_EQ(v.increment(), 1);
  EXPECT_EQ(v.decrement(), 0);
  EXPECT_EQ(v.decrement(), -1);

  qmgl_sync_value w(42);
  qmgl_sync_value copy(w);
  EXPECT_EQ(copy.value(), 42);
  v = w;
  EXPECT_EQ(v.value(), 42);
  EXPECT_EQ(w.increment(), 43);
  EXPECT_EQ(v.value(), 42) << "assignment copies the value, not the counter";
  EXPECT_EQ(&(v = v), &v);
  EXPECT_EQ(v.value(), 42);
}

TEST(SyncValue, WrapsAsA32BitInteger) {
  qmgl_sync_value v(0x7FFFFFFF);
  EXPECT_EQ(v.increment(), -2147483647L - 1);
  EXPECT_EQ(v.value(), -2147483647L - 1);
  EXPECT_EQ(v.decrement(), 0x7FFFFFFFL);
  EXPECT_EQ(v.add(2), -2147483647L);
  EXPECT_EQ(v.add(-3), 0x7FFFFFFEL);

  qmgl_sync_value all_ones(-1);
  EXPECT_EQ(all_ones.increment(), 0);
  EXPECT_EQ(all_ones.add(as_long(0xFFFFFFFF)), -1) << "0xFFFFFFFF counts as -1";

  // Arguments keep their low 32 bits where long is wider.
  qmgl_sync_value w(as_long(0x100000005));
  EXPECT_EQ(w.value(), 5);
  EXPECT_EQ(w.add(as_long(0x200000001)), 6);
  EXPECT_EQ(w.swap(as_long(0x300000007)), 6);
  EXPECT_EQ(w.value(), 7);
  EXPECT_EQ(w.compare_and_swap(as_long(0x400000007), as_long(0x500000003)), 7);
  EXPECT_EQ(w.value(), 3);
}

TEST(SyncValue, ConcurrentIncrementsAreNotLost) {
  qmgl_sync_value v;
  auto work = [&v] {
    for (int i = 0; i < 100000; ++i)
      v.increment();
  };
  std::thread a(work);
  std::thread b(work);
  a.join();
  b.join();
  EXPECT_EQ(v.value(), 200000);
}

TEST(SyncValue, CompareAndSwapElectsOneThread) {
  // Eight threads race to change a flag from 0 to their own number; each learns from the value
  // before whether it won. Repeated to give the race some chances.
  for (int round = 0; round < 50; ++round) {
    qmgl_sync_value flag;
    std::atomic<int> winners{0};
    std::vector<std::thread> threads;
    for (int t = 1; t <= 8; ++t)
      threads.emplace_back([&flag, &winners, t] {
        if (flag.compare_and_swap(0, t) == 0) winners.fetch_add(1);
      });
    for (auto& th : threads)
      th.join();
    EXPECT_EQ(winners.load(), 1);
    EXPECT_GE(flag.value(), 1);
    EXPECT_LE(flag.value(), 8);
  }
}

TEST(SyncValue, DecrementToZeroIsSeenByExactlyOneThread) {
  // The reference-count pattern: 8 threads each drop 1000 of 8000 counts; exactly one of the
  // decrements returns 0.
  qmgl_sync_value count(8000);
  std::atomic<int> saw_zero{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i)
        if (count.decrement() == 0) saw_zero.fetch_add(1);
    });
  for (auto& th : threads)
    th.join();
  EXPECT_EQ(saw_zero.load(), 1);
  EXPECT_EQ(count.value(), 0);
}

}  // namespace
