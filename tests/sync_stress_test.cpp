// Long runs of named locks and signals across processes: many processes and threads counting
// under one lock, lock holders and signal waiters killed again and again. Each run is bounded:
// every wait has a limit, and one that runs out fails the test.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_mem.h>
#include <wygl/qmgl_sync.h>

#include "support/child_process.h"
#include "support/lock_holder.h"

namespace {

constexpr auto child_limit = std::chrono::seconds(60);
constexpr long wait_limit_ms = 30000;
// A helper that is to be killed gives up after this long, so that a test that fails to kill
// it leaves nothing running for long.
constexpr auto kill_limit = std::chrono::seconds(120);

constexpr int counting_processes = 4;
constexpr int rounds_per_thread = 20000;

// Two threads, each with a handle of its own, add one to the counter at the start of the
// block rounds times, each time under the lock.
WYGL_CHILD_ROLE(count_under_lock) {  // args: lock name, block name, start signal name, rounds
  qmgl_mem_shared block(args.at(1).c_str(), 0, qmgl_action_open);
  qmgl_sync_sema_shared start(args.at(2).c_str(), qmgl_action_open, qmgl_sync_sema::not_posted);
  int const rounds = std::stoi(args.at(3));
  auto* const counter = static_cast<std::uint32_t*>(block.get_address());
  std::atomic<int> failures{0};
  auto count = [&] {
    qmgl_sync_lock_shared lock(args.at(0).c_str(), qmgl_action_open);
    for (int i = 0; i < rounds; ++i) {
      if (lock.request(wait_limit_ms) != qmgl_wait_no_error) {
        ++failures;
        return;
      }
      *counter = *counter + 1;
      lock.release();
    }
  };
  if (start.wait(wait_limit_ms) != qmgl_wait_no_error) return 2;
  std::thread other(count);
  count();
  other.join();
  return failures == 0 ? 0 : 1;
}

TEST(NamedLockStress, ProcessesAndThreadsCountExactlyUnderOneLock) {
  std::string const lock_name = unique_object_name("lock");
  std::string const block_name = unique_object_name("block");
  std::string const start_name = unique_object_name("start");
  qmgl_sync_lock_shared lock(lock_name.c_str(), qmgl_action_create);
  qmgl_mem_shared block(block_name.c_str(), 4096, qmgl_action_create);
  qmgl_sync_sema_shared start(start_name.c_str(), qmgl_action_create, qmgl_sync_sema::not_posted);

  std::vector<std::unique_ptr<child_process>> children;
  for (int i = 0; i < counting_processes; ++i) {
    children.push_back(std::make_unique<child_process>(
        "count_under_lock", std::vector<std::string>{lock_name, block_name, start_name,
                                                     std::to_string(rounds_per_thread)}));
  }
  start.post();
  for (auto& child : children)
    EXPECT_EQ(child->wait_for_exit(child_limit), 0);
  EXPECT_EQ(*static_cast<std::uint32_t*>(block.get_address()),
            std::uint32_t{counting_processes * 2 * rounds_per_thread});
}

// Each cycle kills a helper that holds the lock; every other cycle a thread here is already
// waiting for the lock when the kill comes.
TEST(NamedLockStress, HoldersKilledAgainAndAgainNeverDeadlock) {
  constexpr int cycles = 20;
  std::string const name = unique_object_name("lock");
  qmgl_sync_lock_shared lock(name.c_str(), qmgl_action_create);
  for (int cycle = 0; cycle < cycles; ++cycle) {
    lock_holder_process holder(name, qmgl_action_open);
    std::future<qmgl_wait_error_indicator> waiter;
    if (cycle % 2 == 1) {
      waiter = std::async(std::launch::async, [&lock] {
        qmgl_wait_error_indicator const outcome = lock.request(wait_limit_ms);
        if (outcome == qmgl_wait_abandoned || outcome == qmgl_wait_no_error) lock.release();
        return outcome;
      });
    }
    holder.kill();
    if (waiter.valid()) {
      ASSERT_EQ(waiter.get(), qmgl_wait_abandoned) << "cycle " << cycle;
    } else {
      ASSERT_EQ(lock.request(wait_limit_ms), qmgl_wait_abandoned) << "cycle " << cycle;
      lock.release();
    }
  }
  EXPECT_EQ(lock.request(0), qmgl_wait_no_error) << "free, and abandoned no more";
  lock.release();
}

// Waits on the signal until killed: one thread without a limit, and this thread with short
// limits again and again, so that the kill finds both inside a wait.
WYGL_CHILD_ROLE(wait_on_signal_until_killed) {  // args: signal name, ready signal name
  qmgl_sync_sema_shared signal(args.at(0).c_str(), qmgl_action_open, qmgl_sync_sema::not_posted);
  std::thread([&signal] { signal.wait(); }).detach();
  qmgl_sync_sema_shared(args.at(1).c_str(), qmgl_action_open, qmgl_sync_sema::not_posted).post();
  auto const end = std::chrono::steady_clock::now() + kill_limit;
  while (std::chrono::steady_clock::now() < end)
    signal.wait(1);
  std::_Exit(3);
}

WYGL_CHILD_ROLE(wait_for_signal) {  // args: signal name
  qmgl_sync_sema_shared signal(args.at(0).c_str(), qmgl_action_open, qmgl_sync_sema::not_posted);
  return signal.wait(wait_limit_ms) == qmgl_wait_no_error ? 0 : 1;
}

// Each cycle kills a helper while it waits on the signal; then posts (twice) release a waiter
// in another process, and reset and timed waits work as before.
TEST(NamedSignalStress, WaitersKilledInTheWaitLeaveTheSignalWhole) {
  constexpr int cycles = 5;
  std::string const name = unique_object_name("signal");
  std::string const ready_name = unique_object_name("ready");
  qmgl_sync_sema_shared signal(name.c_str(), qmgl_action_create, qmgl_sync_sema::not_posted);
  qmgl_sync_sema_shared ready(ready_name.c_str(), qmgl_action_create, qmgl_sync_sema::not_posted);
  for (int cycle = 0; cycle < cycles; ++cycle) {
    SCOPED_TRACE(testing::Message() << "cycle " << cycle);
    child_process doomed("wait_on_signal_until_killed", {name, ready_name});
    ASSERT_EQ(ready.wait(wait_limit_ms), qmgl_wait_no_error);
    ready.reset();
    doomed.kill();
    child_process waiter("wait_for_signal", {name});
    signal.post();
    signal.post();
    ASSERT_EQ(waiter.wait_for_exit(child_limit), 0);
    EXPECT_EQ(signal.wait(wait_limit_ms), qmgl_wait_no_error);
    signal.reset();
    EXPECT_EQ(signal.wait(0), qmgl_wait_timeout);
    EXPECT_EQ(signal.wait(20), qmgl_wait_timeout);
  }
}

}  // namespace
