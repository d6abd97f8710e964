// The key-value service's store: changes and their order, deadlines, snapshots.

#include <algorithm>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "kv_hold.h"
#include "kv_store.h"
#include "support/value_helpers.h"

namespace {

// Keeps every change handed to it.
struct change_list : kv_change_sink {
  void record(kv_change const& change) override {
    kv_hold hold(guard);
    changes.push_back(change);
  }
  qmgl_guard guard;
  std::vector<kv_change> changes;
};

std::string text_at(kv_store const& store, std::string const& key, std::uint64_t now = 1000) {
  auto const value = store.get(key, now);
  return value ? text_of(*value) : "absent";
}

}  // namespace

TEST(KvStore, ChangesAreNumberedAndHandedToTheSinkInOrder) {
  change_list sink;
  kv_store store(&sink);
  EXPECT_EQ(store.put("a", 1), 1u);
  EXPECT_EQ(store.put("b", "two"), 2u);
  EXPECT_EQ(store.put("a", 3), 3u);
  EXPECT_EQ(store.del("b", 1000), std::optional<std::uint32_t>(4));
  EXPECT_EQ(store.del("b", 1000), std::nullopt);
  EXPECT_EQ(store.expire("zz", 5, 1000), std::nullopt);
  EXPECT_EQ(store.seq(), 4u);
  EXPECT_EQ(text_at(store, "a"), "3  ");
  EXPECT_EQ(text_at(store, "b"), "absent");
  ASSERT_EQ(sink.changes.size(), 4u);
  EXPECT_EQ(sink.changes[1].kind, kv_change::put);
  EXPECT_EQ(text_of(sink.changes[1].value), "'two' ");
  EXPECT_EQ(sink.changes[3].kind, kv_change::del);
  EXPECT_EQ(sink.changes[3].key, "b");
  EXPECT_EQ(sink.changes[3].seq, 4u);
}

TEST(KvStore, ConcurrentChangesReachTheSinkInSequenceOrder) {
  change_list sink;
  kv_store store(&sink);
  constexpr int threads = 8;
  constexpr int puts = 500;
  std::vector<std::future<void>> done;
  for (int t = 0; t < threads; ++t)
    done.push_back(std::async(std::launch::async, [&store, t] {
      for (int i = 0; i < puts; ++i)
        store.put("k" + std::to_string(t) + "." + std::to_string(i % 7), i);
    }));
  for (auto& d : done)
    ASSERT_EQ(d.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  ASSERT_EQ(sink.changes.size(), static_cast<std::size_t>(threads * puts));
  for (std::size_t i = 0; i < sink.changes.size(); ++i)
    ASSERT_EQ(sink.changes[i].seq, i + 1);
  EXPECT_EQ(store.size(), static_cast<std::size_t>(threads * 7));
}

TEST(KvStore, AKeyIsGoneAtItsDeadlineAndAPutDropsTheDeadline) {
  change_list sink;
  kv_store store(&sink);
  store.put("short", "s");
  store.put("kept", "k");
  store.put("renewed", "r");
  EXPECT_EQ(store.expire("short", 10, 1000), std::optional<std::uint32_t>(4));
  store.expire("renewed", 10, 1000);
  store.put("renewed", "again");
  EXPECT_EQ(sink.changes[3].kind, kv_change::expire);
  EXPECT_EQ(sink.changes[3].deadline, 1010u);

  EXPECT_EQ(text_at(store, "short", 1009), "'s' ");
  EXPECT_EQ(text_at(store, "short", 1010), "absent");
  EXPECT_EQ(text_at(store, "renewed", 5000), "'again' ");
  EXPECT_EQ(store.keys(1010), (std::vector<std::string>{"kept", "renewed"}));
  EXPECT_EQ(store.present(1010), 2u);
  EXPECT_EQ(store.expire("short", 10, 1010), std::nullopt);
  EXPECT_EQ(store.size(), 3u);
  EXPECT_EQ(store.drop_expired(1010), 1u);
  EXPECT_EQ(store.size(), 2u);
  EXPECT_EQ(sink.changes.size(), 6u);  // the drop is no change

  // After 2038 a long expiry reaches past 2^32 seconds: it must not wrap into the past.
  std::uint64_t const in_2040 = 2200000000u;
  store.expire("kept", 2147483647, in_2040);
  EXPECT_EQ(sink.changes.back().deadline, in_2040 + 2147483647u);
  EXPECT_EQ(text_at(store, "kept", in_2040 + 1), "'k' ");
}

TEST(KvStore, ExpiringInZeroSecondsDeletes) {
  change_list sink;
  kv_store store(&sink);
  store.put("k", 1);
  EXPECT_EQ(store.expire("k", 0, 1000), std::optional<std::uint32_t>(2));
  EXPECT_EQ(sink.changes.back().kind, kv_change::del);
  EXPECT_EQ(text_at(store, "k"), "absent");
  EXPECT_EQ(store.expire("k", -5, 1000), std::nullopt);
}

TEST(KvStore, ASnapshotRebuildsTheSameStore) {
  kv_store original;
  original.put("a", array_list({1, 2}));
  original.put("b", bin({0xab}));
  original.put("c", "gone");
  original.del("c", 1000);
  original.expire("b", 60, 1000);
  kv_snapshot const shot = original.snapshot();
  EXPECT_EQ(shot.seq, 5u);
  kv_store copy;
  for (kv_change const& change : shot.changes)
    copy.apply(change);
  EXPECT_EQ(copy.seq(), 5u);
  EXPECT_EQ(copy.keys(1000), original.keys(1000));
  EXPECT_EQ(text_at(copy, "a"), text_at(original, "a"));
  EXPECT_EQ(text_at(copy, "b", 1059), "#ab ");
  EXPECT_EQ(text_at(copy, "b", 1060), "absent");
}
