// Locks, signals, monitors and the critical region, within this process and across helper
// processes.

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_mem.h>
#include <wygl/qmgl_sync.h>

#include "support/child_process.h"
#include "support/lock_holder.h"
#include "support/raised.h"

namespace {

constexpr auto child_limit = std::chrono::seconds(60);
constexpr long wait_limit_ms = 20000;  // for waits that end as soon as the other side acts
constexpr std::uint32_t not_found = 2, invalid_handle = 6, not_owner = 288;
constexpr std::uint32_t owner_died = 0x20030020, already_exists = 0x20030021;

// A lock whose recorded outcome a test may read.
template <class Lock>
struct observed : Lock {
  using Lock::Lock;
  using qmgl_sync_lock::get_wait_error;
};

// The outcome of request(timeout) on another thread, which gives the lock back if it got it.
qmgl_wait_error_indicator request_elsewhere(qmgl_sync_lock& lock, long timeout = 0) {
  qmgl_wait_error_indicator outcome = qmgl_wait_failed;
  std::thread([&] {
    outcome = lock.request(timeout);
    if (outcome == qmgl_wait_no_error || outcome == qmgl_wait_abandoned) lock.release();
  }).join();
  return outcome;
}

// Takes the lock on a thread that ends holding it.
void abandon_on_a_thread(qmgl_sync_lock& lock) {
  std::thread([&] { lock.request(); }).join();
}

// A system error carries the system's text; the library's own errors their names.
void expect_raised(raised const& r, std::uint32_t code, std::string const& name = "",
                   char const* file = "src/qmgl/qmgl_sync") {
  EXPECT_TRUE(r.thrown);
  EXPECT_EQ(r.code, code);
  EXPECT_STREQ(r.file, file);
  EXPECT_EQ(r.message, name.empty() ? system_text(code).substr(0, 159) : name);
}

long long milliseconds_taken_by(auto&& call) {
  auto const start = std::chrono::steady_clock::now();
  call();
  return (std::chrono::steady_clock::now() - start) / std::chrono::milliseconds(1);
}

WYGL_CHILD_ROLE(hold_lock_and_die) {  // args: name
  qmgl_sync_lock_shared lock(args.at(0).c_str(), qmgl_action_open);
  std::_Exit(lock.request(-1) == qmgl_wait_no_error ? 7 : 1);
}

WYGL_CHILD_ROLE(probe_held_lock) {  // args: name of a lock that the parent created and holds
  char const* const name = args.at(0).c_str();
  raised const again = raise_of([&] { qmgl_sync_lock_shared lock(name, qmgl_action_create); });
  qmgl_sync_lock_shared shared(name, qmgl_action_create_or_open), opened(name, qmgl_action_open);
  return again.code == already_exists && shared.request(0) == qmgl_wait_timeout &&
                 opened.request(0) == qmgl_wait_timeout
             ? 0
             : 1;
}

WYGL_CHILD_ROLE(post_signal) {  // args: name
  qmgl_sync_sema_shared(args.at(0).c_str(), qmgl_action_open, qmgl_sync_sema::not_posted).post();
  return 0;
}

}  // namespace

TEST(Lock, RecursiveForItsOwnerAndExclusiveForOthersWithinTimeLimits) {
  observed<qmgl_sync_lock_private> lock;
  EXPECT_EQ(lock.get_wait_error(), qmgl_wait_no_error) << "before the first request";
  expect_raised(raise_of([&] { lock.release(); }), not_owner);
  lock.request();
  EXPECT_EQ(lock.request(-1), qmgl_wait_no_error) << "the owner takes it again at once";
  qmgl_wait_error_indicator outcome = qmgl_wait_failed;
  long long const taken = milliseconds_taken_by([&] { outcome = request_elsewhere(lock, 100); });
  EXPECT_EQ(outcome, qmgl_wait_timeout);
  EXPECT_GE(taken, 80) << "the system's timer may end a wait up to one tick early";
  EXPECT_LT(taken, 10000);
  raised released, timed_out;
  std::thread([&] {
    released = raise_of([&] { lock.release(); });
    timed_out = raise_of([&] { qmgl_sync_monitor hold(lock, 0); });
    EXPECT_EQ(lock.get_wait_error(), qmgl_wait_timeout);
  }).join();
  expect_raised(released, not_owner);
  expect_raised(timed_out, 0x20000002, "exc_timeout");
  lock.release();
  EXPECT_EQ(request_elsewhere(lock), qmgl_wait_timeout) << "still held once";
  lock.release();
  EXPECT_EQ(request_elsewhere(lock), qmgl_wait_no_error);
}

// A lock a thread ends holding is abandoned once, to the next owner, who holds it once.
TEST(Lock, AThreadEndingAbandonsExactlyTheLocksItStillHolds) {
  observed<qmgl_sync_lock_private> first, second, third;
  std::thread([&] {
    first.request();
    first.request();
    second.request();
    third.request();
    second.release();  // given back out of order: only first and third stay held
  }).join();
  EXPECT_EQ(second.request(0), qmgl_wait_no_error);
  EXPECT_EQ(first.request(wait_limit_ms), qmgl_wait_abandoned);
  EXPECT_EQ(first.get_wait_error(), qmgl_wait_abandoned);
  EXPECT_EQ(third.request(0), qmgl_wait_abandoned);
  EXPECT_EQ(request_elsewhere(first), qmgl_wait_timeout) << "abandoned, but held now";
  for (qmgl_sync_lock* lock : {&first, &second, &third}) {
    lock->release();
    EXPECT_EQ(request_elsewhere(*lock), qmgl_wait_no_error) << "abandoned once only";
  }
  // A thread that abandons a lock it obtained abandoned.
  abandon_on_a_thread(first);
  std::thread([&] { EXPECT_EQ(first.request(wait_limit_ms), qmgl_wait_abandoned); }).join();
  EXPECT_EQ(first.request(wait_limit_ms), qmgl_wait_abandoned);
  first.release();
}

// Requests without and with a time limit, and the critical region, reentrant for its owner.
TEST(Lock, ThreadsCountExactlyUnderOneLockOrTheGuard) {
  qmgl_sync_lock_private lock;
  qmgl_guard guard;
  long long locked = 0, guarded = 0;  // guarded by nothing but the lock and the region
  std::atomic<int> failed_requests{0};
  auto add = [&](int kind) {
    for (int i = 0; i < 20000; ++i) {
      if (kind == 2) {
        guard.enterCriticalRegion();
        guard.enterCriticalRegion();
        guarded = guarded + 1;
        guard.leaveCriticalRegion();
        guard.leaveCriticalRegion();
      } else if (lock.request(kind == 0 ? -1 : wait_limit_ms) == qmgl_wait_no_error) {
        locked = locked + 1;
        lock.release();
      } else {
        ++failed_requests;
      }
    }
  };
  std::vector<std::thread> threads;
  for (int kind : {0, 1, 1, 2, 2, 0, 2})
    threads.emplace_back(add, kind);
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(failed_requests, 0);
  EXPECT_EQ(locked, 80000);
  EXPECT_EQ(guarded, 60000);
}

// One lock under every handle of its name, until the last close; "Local\" names the same lock,
// no name makes a lock of its own, and another process finds it existing and held.
TEST(NamedLock, CreateOpenShareAndLastClose) {
  std::string const name = unique_object_name("lock");
  auto created = std::make_unique<qmgl_sync_lock_shared>(name.c_str(), qmgl_action_create);
  expect_raised(raise_of([&] { qmgl_sync_lock_shared again(name.c_str(), qmgl_action_create); }),
                already_exists, "exc_already_exists");
  qmgl_sync_lock_shared shared(name.c_str(), qmgl_action_create_or_open);
  auto opened =
      std::make_unique<qmgl_sync_lock_shared>(("Local\\" + name).c_str(), qmgl_action_open);
  created->request();
  EXPECT_EQ(request_elsewhere(shared), qmgl_wait_timeout);
  EXPECT_EQ(request_elsewhere(*opened), qmgl_wait_timeout);
  EXPECT_EQ(shared.request(0), qmgl_wait_no_error) << "the owner, through another handle";
  shared.release();
  child_process child("probe_held_lock", {name});
  EXPECT_EQ(child.wait_for_exit(child_limit), 0);
  created->release();
  created.reset();
  EXPECT_EQ(request_elsewhere(*opened), qmgl_wait_no_error);
  opened.reset();
  EXPECT_EQ(request_elsewhere(shared), qmgl_wait_no_error) << "alive while one handle remains";

  qmgl_sync_lock_shared first(nullptr, qmgl_action_create), second(nullptr, qmgl_action_create);
  first.request();
  EXPECT_EQ(request_elsewhere(second), qmgl_wait_no_error);
  first.release();
}

// Names without an object, and names of another kind of object.
TEST(NamedLock, OpeningWhatIsNotThere) {
  std::string const names[] = {unique_object_name("lock"), "nowhere\\" + names[0],
                               unique_object_name("signal"), unique_object_name("block")};
  { qmgl_sync_lock_shared gone(names[0].c_str(), qmgl_action_create); }
  qmgl_sync_sema_shared signal(names[2].c_str(), qmgl_action_create, qmgl_sync_sema::not_posted);
  qmgl_mem_shared block(names[3].c_str(), 4096, qmgl_action_create);
  auto open = [](int kind, char const* name, qmgl_action_indicator action) {
    if (kind == 0) qmgl_sync_lock_shared lock(name, action);
    if (kind == 1) qmgl_sync_sema_shared sema(name, action, qmgl_sync_sema::posted);
    if (kind == 2) qmgl_mem_shared mem(name, 4096, action);
  };
  // What to open (0 lock, 1 signal, 2 block), its name, the action, the error.
  std::tuple<int, int, qmgl_action_indicator, std::uint32_t> const rows[] = {
      {0, 0, qmgl_action_open, not_found},  // the last handle closed
      {1, 0, qmgl_action_open, not_found},      {0, 1, qmgl_action_create, 3},
      {0, 2, qmgl_action_open, invalid_handle}, {0, 3, qmgl_action_create, invalid_handle},
      {1, 3, qmgl_action_open, invalid_handle}, {1, 3, qmgl_action_create_or_open, invalid_handle},
      {2, 2, qmgl_action_open, invalid_handle}, {2, 2, qmgl_action_create, invalid_handle}};
  for (auto [kind, name, action, code] : rows) {
    SCOPED_TRACE(testing::Message() << kind << " " << names[name] << " " << action);
    expect_raised(raise_of([&] { open(kind, names[name].c_str(), action); }), code, "",
                  kind == 2 ? "src/qmgl/qmgl_mem" : "src/qmgl/qmgl_sync");
  }
  qmgl_sync_lock_shared fresh(names[0].c_str(), qmgl_action_create);
  EXPECT_EQ(request_elsewhere(fresh), qmgl_wait_no_error) << "a new lock";
}

// Ending by exit or kill, the holder abandons it; a monitor then raises owner-died and leaves
// it free.
TEST(NamedLock, AProcessEndingOrKilledWhileHoldingItAbandonsIt) {
  std::string const name = unique_object_name("lock");
  observed<qmgl_sync_lock_shared> lock(name.c_str(), qmgl_action_create);
  bool const rows[][2] = {{false, false}, {true, false}, {false, true}, {true, true}};
  for (auto [killed, monitor] : rows) {
    SCOPED_TRACE(testing::Message() << "killed " << killed << ", monitor " << monitor);
    if (killed) {
      lock_holder_process holder(name, qmgl_action_open);
      EXPECT_EQ(request_elsewhere(lock), qmgl_wait_timeout) << "held by the helper";
      holder.kill();
    } else {
      child_process child("hold_lock_and_die", {name});
      ASSERT_EQ(child.wait_for_exit(child_limit), 7);
    }
    if (!monitor) {
      EXPECT_EQ(lock.request(wait_limit_ms), qmgl_wait_abandoned);
      EXPECT_EQ(lock.get_wait_error(), qmgl_wait_abandoned);
      EXPECT_EQ(request_elsewhere(lock), qmgl_wait_timeout) << "held after the abandonment";
      lock.release();
      EXPECT_EQ(request_elsewhere(lock), qmgl_wait_no_error) << "abandoned once only";
    } else {
      expect_raised(raise_of([&] { qmgl_sync_monitor hold(lock, wait_limit_ms); }), owner_died,
                    "exc_owner_died");
      EXPECT_EQ(request_elsewhere(lock), qmgl_wait_no_error) << "the monitor left it free";
    }
  }
}

// Created again by a helper, then also held by this process, which closes it before the kill.
TEST(NamedLock, ANameWhoseHoldersWereAllKilledIsAbsentAndCanBeCreatedAgain) {
  std::string const name = unique_object_name("lock");
  lock_holder_process(name, qmgl_action_create).kill();
  expect_raised(raise_of([&] { qmgl_sync_lock_shared lock(name.c_str(), qmgl_action_open); }),
                not_found);
  lock_holder_process holder(name, qmgl_action_create);
  { qmgl_sync_lock_shared opened(name.c_str(), qmgl_action_open); }
  holder.kill();
  qmgl_sync_lock_shared created(name.c_str(), qmgl_action_create);
  EXPECT_EQ(request_elsewhere(created), qmgl_wait_no_error) << "new: neither held nor abandoned";
}

// Only 1 starts a signal set; a post releases every waiter and stays until reset.
TEST(Signal, PostReleasesEveryWaiterUntilReset) {
  for (int state : {0, 1, 2})
    EXPECT_EQ(qmgl_sync_sema_private(static_cast<qmgl_sync_sema::state_indicator>(state)).wait(0),
              state == 1 ? qmgl_wait_no_error : qmgl_wait_timeout);
  qmgl_sync_sema_private signal, started;
  long long const taken =
      milliseconds_taken_by([&] { EXPECT_EQ(signal.wait(100), qmgl_wait_timeout); });
  EXPECT_GE(taken, 80);
  EXPECT_LT(taken, 10000);
  std::atomic<int> waiting{0}, released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i)
    waiters.emplace_back([&] {
      if (++waiting == 4) started.post();
      released += signal.wait(wait_limit_ms) == qmgl_wait_no_error;
    });
  EXPECT_EQ(started.wait(wait_limit_ms), qmgl_wait_no_error);
  signal.post();
  for (std::thread& waiter : waiters)
    waiter.join();
  EXPECT_EQ(released, 4);
  signal.wait();
  EXPECT_EQ(signal.wait(-1), qmgl_wait_no_error) << "stays set";
  signal.reset();
  signal.reset();
  EXPECT_EQ(signal.wait(0), qmgl_wait_timeout);
}

// Opening keeps the state; another process posts it.
TEST(NamedSignal, CreateOpenAndAlreadyExists) {
  std::string const name = unique_object_name("signal");
  qmgl_sync_sema_shared created(name.c_str(), qmgl_action_create, qmgl_sync_sema::posted);
  expect_raised(raise_of([&] {
                  qmgl_sync_sema_shared(name.c_str(), qmgl_action_create, qmgl_sync_sema::posted);
                }),
                already_exists, "exc_already_exists");
  qmgl_sync_sema_shared shared(name.c_str(), qmgl_action_create_or_open,
                               qmgl_sync_sema::not_posted);
  EXPECT_EQ(shared.wait(0), qmgl_wait_no_error);
  created.reset();
  EXPECT_EQ(shared.wait(0), qmgl_wait_timeout);
  EXPECT_EQ(child_process("post_signal", {name}).wait_for_exit(child_limit), 0);
  EXPECT_EQ(created.wait(0), qmgl_wait_no_error);
}

// A monitor holds the lock for its scope; on an abandoned lock it raises owner-died and leaves
// the lock free. An unlock monitor gives the lock up for its scope; taking it back abandoned
// raises owner-died after releasing it, or keeps it quietly while another exception unwinds.
TEST(Monitor, HoldAndUnlockForTheScope) {
  observed<qmgl_sync_lock_private> lock;
  for (bool timed : {false, true}) {
    auto hold = [&] {
      return timed ? std::make_unique<qmgl_sync_monitor>(lock, 0)
                   : std::make_unique<qmgl_sync_monitor>(lock);
    };
    EXPECT_EQ((hold(), request_elsewhere(lock)), qmgl_wait_timeout);
    EXPECT_EQ(request_elsewhere(lock), qmgl_wait_no_error);
    abandon_on_a_thread(lock);
    expect_raised(raise_of(hold), owner_died, "exc_owner_died");
    EXPECT_EQ(request_elsewhere(lock), qmgl_wait_no_error) << "left free";
  }
  qmgl_sync_monitor hold(lock);
  {
    qmgl_sync_unlock_monitor let_go(lock);
    EXPECT_EQ(request_elsewhere(lock), qmgl_wait_no_error);
  }
  EXPECT_EQ(request_elsewhere(lock), qmgl_wait_timeout);
  expect_raised(raise_of([&] {
                  qmgl_sync_unlock_monitor let_go(lock);
                  abandon_on_a_thread(lock);
                }),
                owner_died, "exc_owner_died");
  EXPECT_EQ(request_elsewhere(lock), qmgl_wait_no_error) << "released before raising";
  lock.request();
  EXPECT_THROW(
      {
        qmgl_sync_unlock_monitor let_go(lock);
        abandon_on_a_thread(lock);
        throw std::runtime_error("unwinding");
      },
      std::runtime_error);
  EXPECT_EQ(lock.get_wait_error(), qmgl_wait_abandoned);
  EXPECT_EQ(request_elsewhere(lock), qmgl_wait_timeout) << "held again";
}
