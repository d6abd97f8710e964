// Locks, signals, monitors and the critical region, within this process and across helper
// processes.

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
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

// Locks whose recorded outcome a test may read.
struct observed_lock : qmgl_sync_lock_private {
  using qmgl_sync_lock::get_wait_error;
};
struct observed_shared_lock : qmgl_sync_lock_shared {
  using qmgl_sync_lock::get_wait_error;
  using qmgl_sync_lock_shared::qmgl_sync_lock_shared;
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
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

// A thread that holds a lock until the object ends.
class holder_thread {
 public:
  explicit holder_thread(qmgl_sync_lock& lock)
      : _thread([this, &lock] {
          lock.request();
          _held.post();
          _let_go.wait(wait_limit_ms);
          lock.release();
        }) {
    _held.wait(wait_limit_ms);
  }
  ~holder_thread() {
    _let_go.post();
    _thread.join();
  }

 private:
  qmgl_sync_sema_private _held, _let_go;
  std::thread _thread;
};

WYGL_CHILD_ROLE(hold_lock_and_die) {  // args: name
  qmgl_sync_lock_shared lock(args.at(0).c_str(), qmgl_action_open);
  std::_Exit(lock.request(-1) == qmgl_wait_no_error ? 7 : 1);
}

WYGL_CHILD_ROLE(probe_held_lock) {  // args: name of a lock that the parent created and holds
  char const* const name = args.at(0).c_str();
  raised const again = raise_of([&] { qmgl_sync_lock_shared lock(name, qmgl_action_create); });
  if (again.type != typeid(exc_already_exists_t) || again.code != already_exists) return 1;
  qmgl_sync_lock_shared shared(name, qmgl_action_create_or_open);
  if (shared.request(0) != qmgl_wait_timeout) return 2;
  qmgl_sync_lock_shared opened(name, qmgl_action_open);
  return opened.request(0) == qmgl_wait_timeout ? 0 : 3;
}

WYGL_CHILD_ROLE(post_signal) {  // args: name
  qmgl_sync_sema_shared(args.at(0).c_str(), qmgl_action_open, qmgl_sync_sema::not_posted).post();
  return 0;
}

}  // namespace

TEST(Lock, RecursiveForItsOwnerAndExclusiveForOthers) {
  observed_lock lock;
  EXPECT_EQ(lock.get_wait_error(), qmgl_wait_no_error) << "before the first request";
  expect_raised(raise_of([&] { lock.release(); }), not_owner);
  lock.request();
  EXPECT_EQ(lock.request(-1), qmgl_wait_no_error) << "the owner takes it again at once";
  EXPECT_EQ(request_elsewhere(lock), qmgl_wait_timeout);
  raised elsewhere;
  std::thread([&] { elsewhere = raise_of([&] { lock.release(); }); }).join();
  expect_raised(elsewhere, not_owner);
  lock.release();
  EXPECT_EQ(request_elsewhere(lock), qmgl_wait_timeout) << "still held once";
  lock.release();
  EXPECT_EQ(request_elsewhere(lock), qmgl_wait_no_error);
  EXPECT_EQ(lock.get_wait_error(), qmgl_wait_no_error);
}

TEST(Lock, TimedRequestsAndMonitorsWaitTheirLimitThenTimeOut) {
  observed_lock lock;
  holder_thread holder(lock);
  qmgl_wait_error_indicator outcome = qmgl_wait_failed;
  long long const taken = milliseconds_taken_by([&] { outcome = lock.request(100); });
  EXPECT_EQ(outcome, qmgl_wait_timeout);
  EXPECT_GE(taken, 80) << "the system's timer may end a wait up to one tick early";
  EXPECT_LT(taken, 10000);
  expect_raised(raise_of([&] { qmgl_sync_monitor hold(lock, 0); }), 0x20000002, "exc_timeout");
  EXPECT_EQ(lock.get_wait_error(), qmgl_wait_timeout);
  expect_raised(raise_of([&] { lock.release(); }), not_owner);
}

// A lock a thread ends holding is abandoned once, to the next owner, who holds it once.
TEST(Lock, AThreadEndingAbandonsExactlyTheLocksItStillHolds) {
  observed_lock first, second, third;
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

TEST(Lock, ThreadsCountExactlyUnderOneLockOrTheGuard) {
  qmgl_sync_lock_private lock;
  qmgl_guard guard;
  guard.enterCriticalRegion();
  guard.enterCriticalRegion();  // reentrant for its owner
  guard.leaveCriticalRegion();
  guard.leaveCriticalRegion();
  long long locked = 0, guarded = 0;  // guarded by nothing but the lock and the region
  std::atomic<int> failed_requests{0};
  auto add = [&](int kind) {
    for (int i = 0; i < 20000; ++i) {
      if (kind == 2) {
        guard.enterCriticalRegion();
        guarded = guarded + 1;
        guard.leaveCriticalRegion();
        continue;
      }
      if (kind == 0) {
        lock.request();
      } else if (lock.request(wait_limit_ms) != qmgl_wait_no_error) {
        ++failed_requests;
        continue;
      }
      locked = locked + 1;
      lock.release();
    }
  };
  std::vector<std::thread> threads;
  for (int kind : {0, 1, 1, 2, 2})
    threads.emplace_back(add, kind);
  add(0);
  add(2);
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
  std::string const lock = unique_object_name("lock"), signal = unique_object_name("signal");
  std::string const block = unique_object_name("block");
  { qmgl_sync_lock_shared gone(lock.c_str(), qmgl_action_create); }
  qmgl_sync_sema_shared a_signal(signal.c_str(), qmgl_action_create, qmgl_sync_sema::not_posted);
  qmgl_mem_shared a_block(block.c_str(), 4096, qmgl_action_create);
  auto open_lock = [](std::string const& name, qmgl_action_indicator action) {
    return std::function<void()>([=] { qmgl_sync_lock_shared l(name.c_str(), action); });
  };
  auto open_signal = [](std::string const& name, qmgl_action_indicator action) {
    return std::function<void()>(
        [=] { qmgl_sync_sema_shared s(name.c_str(), action, qmgl_sync_sema::posted); });
  };
  auto open_block = [](std::string const& name, qmgl_action_indicator action) {
    return std::function<void()>([=] { qmgl_mem_shared m(name.c_str(), 4096, action); });
  };
  struct row {
    std::function<void()> open;
    std::uint32_t code;
    char const* file;
  } const rows[] = {
      {open_lock(lock, qmgl_action_open), not_found, "src/qmgl/qmgl_sync"},  // the last closed
      {open_signal(lock, qmgl_action_open), not_found, "src/qmgl/qmgl_sync"},
      {open_lock("nowhere\\" + lock, qmgl_action_create), 3, "src/qmgl/qmgl_sync"},
      {open_lock(signal, qmgl_action_open), invalid_handle, "src/qmgl/qmgl_sync"},
      {open_lock(signal, qmgl_action_create), invalid_handle, "src/qmgl/qmgl_sync"},
      {open_lock(block, qmgl_action_create_or_open), invalid_handle, "src/qmgl/qmgl_sync"},
      {open_signal(block, qmgl_action_create_or_open), invalid_handle, "src/qmgl/qmgl_sync"},
      {open_signal(block, qmgl_action_open), invalid_handle, "src/qmgl/qmgl_sync"},
      {open_block(signal, qmgl_action_open), invalid_handle, "src/qmgl/qmgl_mem"},
      {open_block(signal, qmgl_action_create), invalid_handle, "src/qmgl/qmgl_mem"},
      {open_block(signal, qmgl_action_create_or_open), invalid_handle, "src/qmgl/qmgl_mem"},
  };
  for (row const& r : rows) {
    SCOPED_TRACE(testing::Message() << "row " << &r - rows);
    expect_raised(raise_of(r.open), r.code, "", r.file);
  }
  qmgl_sync_lock_shared fresh(lock.c_str(), qmgl_action_create);
  EXPECT_EQ(request_elsewhere(fresh), qmgl_wait_no_error) << "a new lock";
}

// Ending by exit or kill, the holder abandons it; a monitor then raises owner-died and leaves
// it free.
TEST(NamedLock, AProcessEndingOrKilledWhileHoldingItAbandonsIt) {
  std::string const name = unique_object_name("lock");
  observed_shared_lock lock(name.c_str(), qmgl_action_create);
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

TEST(NamedLock, ANameWhoseHoldersWereAllKilledIsAbsentAndCanBeCreatedAgain) {
  std::string const name = unique_object_name("lock");
  lock_holder_process(name, qmgl_action_create).kill();
  expect_raised(raise_of([&] { qmgl_sync_lock_shared lock(name.c_str(), qmgl_action_open); }),
                not_found);
  {
    qmgl_sync_lock_shared created(name.c_str(), qmgl_action_create);
    EXPECT_EQ(request_elsewhere(created), qmgl_wait_no_error) << "new: neither held nor abandoned";
  }
  // This process held a handle too, and closed it before the helper was killed.
  lock_holder_process holder(name, qmgl_action_create);
  { qmgl_sync_lock_shared opened(name.c_str(), qmgl_action_open); }
  holder.kill();
  qmgl_sync_lock_shared created(name.c_str(), qmgl_action_create);
  EXPECT_EQ(request_elsewhere(created), qmgl_wait_no_error);
}

// Only 1 starts a signal set; a post releases every waiter and stays until reset.
TEST(Signal, PostReleasesEveryWaiterUntilReset) {
  for (int state : {-1, 0, 1, 2}) {
    auto const made = state < 0 ? std::make_unique<qmgl_sync_sema_private>()
                                : std::make_unique<qmgl_sync_sema_private>(
                                      static_cast<qmgl_sync_sema::state_indicator>(state));
    EXPECT_EQ(made->wait(0), state == 1 ? qmgl_wait_no_error : qmgl_wait_timeout) << state;
  }
  qmgl_sync_sema_private signal, started;
  long long const taken =
      milliseconds_taken_by([&] { EXPECT_EQ(signal.wait(100), qmgl_wait_timeout); });
  EXPECT_GE(taken, 80);
  EXPECT_LT(taken, 10000);
  std::atomic<int> waiting{0};
  std::vector<std::future<qmgl_wait_error_indicator>> waiters;
  for (int i = 0; i < 4; ++i) {
    waiters.push_back(std::async(std::launch::async, [&] {
      if (++waiting == 4) started.post();
      return signal.wait(wait_limit_ms);
    }));
  }
  EXPECT_EQ(started.wait(wait_limit_ms), qmgl_wait_no_error);
  signal.post();
  for (auto& waiter : waiters)
    EXPECT_EQ(waiter.get(), qmgl_wait_no_error);
  signal.wait();
  EXPECT_EQ(signal.wait(-1), qmgl_wait_no_error) << "stays set";
  for (int i = 0; i < 2; ++i) {
    signal.reset();
    EXPECT_EQ(signal.wait(0), qmgl_wait_timeout);
  }
}

TEST(NamedSignal, CreateOpenAndAlreadyExists) {
  std::string const name = unique_object_name("signal");
  qmgl_sync_sema_shared created(name.c_str(), qmgl_action_create, qmgl_sync_sema::posted);
  EXPECT_EQ(created.wait(0), qmgl_wait_no_error);
  expect_raised(raise_of([&] {
                  qmgl_sync_sema_shared again(name.c_str(), qmgl_action_create,
                                              qmgl_sync_sema::not_posted);
                }),
                already_exists, "exc_already_exists");
  qmgl_sync_sema_shared shared(name.c_str(), qmgl_action_create_or_open,
                               qmgl_sync_sema::not_posted);
  EXPECT_EQ(shared.wait(0), qmgl_wait_no_error) << "opening keeps the state";
  created.reset();
  EXPECT_EQ(shared.wait(0), qmgl_wait_timeout);
  child_process child("post_signal", {name});
  EXPECT_EQ(child.wait_for_exit(child_limit), 0);
  EXPECT_EQ(created.wait(0), qmgl_wait_no_error) << "posted by another process";
}

TEST(Monitor, HoldsTheLockForItsScopeAndRaisesOwnerDiedOnAnAbandonedOne) {
  qmgl_sync_lock_private lock;
  for (bool timed : {false, true}) {
    auto hold = [&] {
      return timed ? std::make_unique<qmgl_sync_monitor>(lock, 0)
                   : std::make_unique<qmgl_sync_monitor>(lock);
    };
    {
      auto const held = hold();
      EXPECT_EQ(request_elsewhere(lock), qmgl_wait_timeout);
    }
    EXPECT_EQ(request_elsewhere(lock), qmgl_wait_no_error);
    abandon_on_a_thread(lock);
    expect_raised(raise_of(hold), owner_died, "exc_owner_died");
    EXPECT_EQ(request_elsewhere(lock), qmgl_wait_no_error) << "left free";
  }
}

// An unlock monitor gives the lock up for its scope; taking it back abandoned raises
// owner-died after releasing it, or keeps it quietly while another exception unwinds.
TEST(Monitor, UnlockMonitorGivesTheLockUpForItsScope) {
  observed_lock lock;
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
