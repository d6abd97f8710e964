// Locks, signals, monitors and the critical region, within this process and across helper
// processes.

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <typeindex>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_mem.h>
#include <wygl/qmgl_sync.h>

#include "support/child_process.h"
#include "support/lock_holder.h"
#include "support/raised.h"

namespace {

constexpr char sync_file[] = "src/qmgl/qmgl_sync";
constexpr auto child_limit = std::chrono::seconds(60);
constexpr long wait_limit_ms = 20000;  // for waits that end as soon as the other side acts

constexpr std::uint32_t error_file_not_found = 2;
constexpr std::uint32_t error_path_not_found = 3;
constexpr std::uint32_t error_invalid_handle = 6;
constexpr std::uint32_t error_not_owner = 288;

// Locks whose recorded outcome a test may read.
struct observed_lock : qmgl_sync_lock_private {
  using qmgl_sync_lock::get_wait_error;
};
struct observed_shared_lock : qmgl_sync_lock_shared {
  using qmgl_sync_lock::get_wait_error;
  using qmgl_sync_lock_shared::qmgl_sync_lock_shared;
};

// The outcome of request(timeout) on another thread, which gives the lock back if it got it.
qmgl_wait_error_indicator request_elsewhere(qmgl_sync_lock& lock, long timeout) {
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

void expect_system_error(raised const& r, std::uint32_t code, char const* file) {
  EXPECT_TRUE(r.thrown);
  EXPECT_EQ(r.type, std::type_index(typeid(exc_unmapped_t)));
  EXPECT_EQ(r.code, code);
  EXPECT_STREQ(r.file, file);
  EXPECT_EQ(r.message, narrow_ascii(error_string(code)).substr(0, 159));
}

void expect_library_error(raised const& r, std::type_info const& type, std::uint32_t code,
                          char const* message) {
  EXPECT_TRUE(r.thrown);
  EXPECT_EQ(r.type, std::type_index(type));
  EXPECT_EQ(r.code, code);
  EXPECT_STREQ(r.file, sync_file);
  EXPECT_EQ(r.message, message);
}

long long milliseconds_taken_by(auto&& call) {
  auto const start = std::chrono::steady_clock::now();
  call();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

// A thread that holds a lock until it is told to let go.
class holder_thread {
 public:
  explicit holder_thread(qmgl_sync_lock& lock) : _lock(lock) {
    _thread = std::thread([this] {
      _lock.request();
      _held.post();
      _let_go.wait(wait_limit_ms);
      _lock.release();
    });
    _held.wait(wait_limit_ms);
  }
  ~holder_thread() {
    _let_go.post();
    _thread.join();
  }

 private:
  qmgl_sync_lock& _lock;
  qmgl_sync_sema_private _held;
  qmgl_sync_sema_private _let_go;
  std::thread _thread;
};

// Roles of the helper processes.

WYGL_CHILD_ROLE(hold_lock_and_die) {  // args: name
  qmgl_sync_lock_shared lock(args.at(0).c_str(), qmgl_action_open);
  std::_Exit(lock.request(-1) == qmgl_wait_no_error ? 7 : 1);
}

WYGL_CHILD_ROLE(probe_held_lock) {  // args: name of a lock that the parent created and holds
  char const* const name = args.at(0).c_str();
  raised const again = raise_of([&] { qmgl_sync_lock_shared lock(name, qmgl_action_create); });
  if (again.type != typeid(exc_already_exists_t) || again.code != 0x20030021) return 1;
  qmgl_sync_lock_shared shared(name, qmgl_action_create_or_open);
  if (shared.request(0) != qmgl_wait_timeout) return 2;
  qmgl_sync_lock_shared opened(name, qmgl_action_open);
  return opened.request(0) == qmgl_wait_timeout ? 0 : 3;
}

WYGL_CHILD_ROLE(post_signal) {  // args: name
  qmgl_sync_sema_shared signal(args.at(0).c_str(), qmgl_action_open, qmgl_sync_sema::not_posted);
  signal.post();
  return 0;
}

// Private locks.

TEST(Lock, RecursiveForItsOwnerAndExclusiveForOthers) {
  observed_lock lock;
  EXPECT_EQ(lock.get_wait_error(), qmgl_wait_no_error) << "before the first request";
  lock.request();
  EXPECT_EQ(lock.request(0), qmgl_wait_no_error) << "the owner takes it again at once";
  EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_timeout);
  lock.release();
  EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_timeout) << "still held once";
  lock.release();
  EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_no_error);
  EXPECT_EQ(lock.request(-1), qmgl_wait_no_error);
  EXPECT_EQ(lock.get_wait_error(), qmgl_wait_no_error);
  lock.release();
}

TEST(Lock, TimedRequestWaitsItsLimitThenTimesOut) {
  observed_lock lock;
  holder_thread holder(lock);
  qmgl_wait_error_indicator outcome = qmgl_wait_failed;
  long long const taken = milliseconds_taken_by([&] { outcome = lock.request(100); });
  EXPECT_EQ(outcome, qmgl_wait_timeout);
  EXPECT_EQ(lock.get_wait_error(), qmgl_wait_timeout);
  // The system's timer may end a wait up to one tick early.
  EXPECT_GE(taken, 80);
  EXPECT_LT(taken, 10000);
}

TEST(Lock, ReleaseByAThreadThatDoesNotHoldItRaisesNotOwner) {
  qmgl_sync_lock_private lock;
  expect_system_error(raise_of([&] { lock.release(); }), error_not_owner, sync_file);
  lock.request();
  raised elsewhere;
  std::thread([&] { elsewhere = raise_of([&] { lock.release(); }); }).join();
  expect_system_error(elsewhere, error_not_owner, sync_file);
  lock.release();
  expect_system_error(raise_of([&] { lock.release(); }), error_not_owner, sync_file);
}

TEST(Lock, AThreadEndingWhileHoldingItAbandonsIt) {
  observed_lock lock;
  abandon_on_a_thread(lock);
  lock.request();
  EXPECT_EQ(lock.get_wait_error(), qmgl_wait_abandoned);
  EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_timeout) << "abandoned, but held now";
  lock.release();
  EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_no_error) << "abandoned once only";

  // A thread that held it twice: the new owner holds it once.
  std::thread([&] {
    lock.request();
    lock.request();
  }).join();
  EXPECT_EQ(lock.request(wait_limit_ms), qmgl_wait_abandoned);
  EXPECT_EQ(lock.get_wait_error(), qmgl_wait_abandoned);
  lock.release();
  EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_no_error);
}

TEST(Lock, AThreadEndingAbandonsExactlyTheLocksItStillHolds) {
  observed_lock first;
  observed_lock second;
  observed_lock third;
  std::thread([&] {
    first.request();
    second.request();
    third.request();
    second.release();  // given back out of order: only first and third stay held
  }).join();
  EXPECT_EQ(second.request(0), qmgl_wait_no_error);
  EXPECT_EQ(first.request(0), qmgl_wait_abandoned);
  EXPECT_EQ(third.request(0), qmgl_wait_abandoned);
  for (qmgl_sync_lock* lock : {&first, &second, &third}) {
    lock->release();
    EXPECT_EQ(request_elsewhere(*lock, 0), qmgl_wait_no_error);
  }

  // A thread that abandons a lock it obtained abandoned.
  std::thread([&] {
    first.request();
    first.request();
  }).join();
  std::thread([&] { EXPECT_EQ(first.request(wait_limit_ms), qmgl_wait_abandoned); }).join();
  EXPECT_EQ(first.request(wait_limit_ms), qmgl_wait_abandoned);
  first.release();
}

TEST(Lock, ThreadsCountExactlyUnderOneLock) {
  qmgl_sync_lock_private lock;
  long long total = 0;  // guarded by nothing but the lock
  std::atomic<int> failed_requests{0};
  auto add = [&](bool limited) {
    for (int i = 0; i < 20000; ++i) {
      if (!limited) {
        lock.request();
      } else if (lock.request(wait_limit_ms) != qmgl_wait_no_error) {
        ++failed_requests;
        continue;
      }
      total = total + 1;
      lock.release();
    }
  };
  std::thread first(add, true);
  std::thread second(add, false);
  std::thread third(add, true);
  add(false);
  first.join();
  second.join();
  third.join();
  EXPECT_EQ(failed_requests, 0);
  EXPECT_EQ(total, 80000);
}

// Named locks.

TEST(NamedLock, CreateOpenAndAlreadyExists) {
  std::string const name = unique_object_name("lock");
  qmgl_sync_lock_shared created(name.c_str(), qmgl_action_create);
  expect_library_error(
      raise_of([&] { qmgl_sync_lock_shared again(name.c_str(), qmgl_action_create); }),
      typeid(exc_already_exists_t), 0x20030021, "exc_already_exists");
  qmgl_sync_lock_shared shared(name.c_str(), qmgl_action_create_or_open);
  qmgl_sync_lock_shared opened(name.c_str(), qmgl_action_open);
  created.request();
  EXPECT_EQ(request_elsewhere(shared, 0), qmgl_wait_timeout) << "one lock under three handles";
  EXPECT_EQ(request_elsewhere(opened, 0), qmgl_wait_timeout);
  EXPECT_EQ(shared.request(0), qmgl_wait_no_error) << "the owner, through another handle";
  shared.release();
  created.release();
  EXPECT_EQ(request_elsewhere(opened, 0), qmgl_wait_no_error);
}

TEST(NamedLock, OpenOfAnAbsentNameRaisesFileNotFound) {
  std::string const name = unique_object_name("absent");
  expect_system_error(raise_of([&] { qmgl_sync_lock_shared lock(name.c_str(), qmgl_action_open); }),
                      error_file_not_found, sync_file);
}

TEST(NamedLock, TheLastCloseDestroysIt) {
  std::string const name = unique_object_name("lock");
  auto first = std::make_unique<qmgl_sync_lock_shared>(name.c_str(), qmgl_action_create);
  auto second = std::make_unique<qmgl_sync_lock_shared>(name.c_str(), qmgl_action_open);
  first.reset();
  qmgl_sync_lock_shared third(name.c_str(), qmgl_action_open);
  second.reset();
  EXPECT_EQ(third.request(0), qmgl_wait_no_error);
  third.release();
}

TEST(NamedLock, LastCloseThenOpenFailsAndCreateMakesANewOne) {
  std::string const name = unique_object_name("lock");
  {
    qmgl_sync_lock_shared lock(name.c_str(), qmgl_action_create);
    lock.request();
    lock.release();
  }
  expect_system_error(raise_of([&] { qmgl_sync_lock_shared lock(name.c_str(), qmgl_action_open); }),
                      error_file_not_found, sync_file);
  qmgl_sync_lock_shared fresh(name.c_str(), qmgl_action_create);
  EXPECT_EQ(request_elsewhere(fresh, 0), qmgl_wait_no_error);
}

TEST(NamedLock, ANameOfAnotherKindIsAnInvalidHandle) {
  std::string const name = unique_object_name("signal");
  qmgl_sync_sema_shared signal(name.c_str(), qmgl_action_create, qmgl_sync_sema::not_posted);
  for (qmgl_action_indicator action :
       {qmgl_action_open, qmgl_action_create, qmgl_action_create_or_open}) {
    expect_system_error(raise_of([&] { qmgl_sync_lock_shared lock(name.c_str(), action); }),
                        error_invalid_handle, sync_file);
  }
  std::string const lock_name = unique_object_name("lock");
  qmgl_sync_lock_shared lock(lock_name.c_str(), qmgl_action_create);
  expect_system_error(raise_of([&] {
                        qmgl_sync_sema_shared s(lock_name.c_str(), qmgl_action_create_or_open,
                                                qmgl_sync_sema::posted);
                      }),
                      error_invalid_handle, sync_file);
  expect_system_error(raise_of([&] {
                        qmgl_sync_sema_shared s(lock_name.c_str(), qmgl_action_open,
                                                qmgl_sync_sema::posted);
                      }),
                      error_invalid_handle, sync_file);
}

TEST(NamedLock, NameSpacesAndNamesWithoutAnObject) {
  std::string const name = unique_object_name("lock");
  qmgl_sync_lock_shared plain(name.c_str(), qmgl_action_create);
  qmgl_sync_lock_shared local(("Local\\" + name).c_str(), qmgl_action_open);
  plain.request();
  EXPECT_EQ(request_elsewhere(local, 0), qmgl_wait_timeout) << "\"Local\\\" names the same lock";
  plain.release();
  expect_system_error(
      raise_of(
          [&] { qmgl_sync_lock_shared lock(("nowhere\\" + name).c_str(), qmgl_action_create); }),
      error_path_not_found, sync_file);

  // Without a name, each create makes a lock of its own.
  qmgl_sync_lock_shared first(nullptr, qmgl_action_create);
  qmgl_sync_lock_shared second(nullptr, qmgl_action_create);
  first.request();
  EXPECT_EQ(request_elsewhere(second, 0), qmgl_wait_no_error);
  first.release();
}

TEST(NamedLock, AnotherProcessFindsItExistingAndShares) {
  std::string const name = unique_object_name("lock");
  qmgl_sync_lock_shared lock(name.c_str(), qmgl_action_create);
  lock.request();
  child_process child("probe_held_lock", {name});
  EXPECT_EQ(child.wait_for_exit(child_limit), 0);
  lock.release();
}

TEST(NamedLock, AProcessEndingWhileHoldingItAbandonsIt) {
  std::string const name = unique_object_name("lock");
  observed_shared_lock lock(name.c_str(), qmgl_action_create);
  {
    child_process child("hold_lock_and_die", {name});
    ASSERT_EQ(child.wait_for_exit(child_limit), 7);
  }
  lock.request();
  EXPECT_EQ(lock.get_wait_error(), qmgl_wait_abandoned);
  EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_timeout) << "held after the abandonment";
  lock.release();

  {
    child_process child("hold_lock_and_die", {name});
    ASSERT_EQ(child.wait_for_exit(child_limit), 7);
  }
  expect_library_error(raise_of([&] { qmgl_sync_monitor hold(lock, wait_limit_ms); }),
                       typeid(exc_owner_died_t), 0x20030020, "exc_owner_died");
  EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_no_error) << "the monitor left it free";
}

TEST(NamedLock, AProcessKilledWhileHoldingItAbandonsIt) {
  std::string const name = unique_object_name("lock");
  observed_shared_lock lock(name.c_str(), qmgl_action_create);
  {
    lock_holder_process holder(name, qmgl_action_open);
    EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_timeout) << "held by the helper";
    holder.kill();
  }
  EXPECT_EQ(lock.request(wait_limit_ms), qmgl_wait_abandoned);
  EXPECT_EQ(lock.get_wait_error(), qmgl_wait_abandoned);
  EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_timeout) << "held after the abandonment";
  lock.release();
  EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_no_error) << "abandoned once only";

  lock_holder_process(name, qmgl_action_open).kill();
  expect_library_error(raise_of([&] { qmgl_sync_monitor hold(lock, wait_limit_ms); }),
                       typeid(exc_owner_died_t), 0x20030020, "exc_owner_died");
  EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_no_error) << "the monitor left it free";
}

TEST(NamedLock, ANameWhoseHoldersWereAllKilledIsAbsentAndCanBeCreatedAgain) {
  std::string const name = unique_object_name("lock");
  lock_holder_process(name, qmgl_action_create).kill();
  expect_system_error(raise_of([&] { qmgl_sync_lock_shared lock(name.c_str(), qmgl_action_open); }),
                      error_file_not_found, sync_file);
  {
    qmgl_sync_lock_shared created(name.c_str(), qmgl_action_create);
    EXPECT_EQ(request_elsewhere(created, 0), qmgl_wait_no_error)
        << "new: neither held nor abandoned";
  }

  // This process held a handle too, and closed it before the helper was killed.
  lock_holder_process holder(name, qmgl_action_create);
  { qmgl_sync_lock_shared opened(name.c_str(), qmgl_action_open); }
  holder.kill();
  qmgl_sync_lock_shared created(name.c_str(), qmgl_action_create);
  EXPECT_EQ(request_elsewhere(created, 0), qmgl_wait_no_error);
}

// Signals.

TEST(Signal, StartsClearUnlessPosted) {
  qmgl_sync_sema_private plain;
  EXPECT_EQ(plain.wait(0), qmgl_wait_timeout);
  qmgl_sync_sema_private not_posted(qmgl_sync_sema::not_posted);
  EXPECT_EQ(not_posted.wait(0), qmgl_wait_timeout);
  qmgl_sync_sema_private posted(qmgl_sync_sema::posted);
  EXPECT_EQ(posted.wait(0), qmgl_wait_no_error);
  qmgl_sync_sema_private other(static_cast<qmgl_sync_sema::state_indicator>(2));
  EXPECT_EQ(other.wait(0), qmgl_wait_timeout) << "only 1 starts it set";
}

TEST(Signal, PostReleasesEveryWaiterUntilReset) {
  qmgl_sync_sema_private signal;
  qmgl_sync_sema_private started;
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
  EXPECT_EQ(signal.wait(0), qmgl_wait_no_error) << "stays set";
  signal.wait();
  EXPECT_EQ(signal.wait(-1), qmgl_wait_no_error);
  signal.reset();
  EXPECT_EQ(signal.wait(0), qmgl_wait_timeout);
  signal.reset();
  EXPECT_EQ(signal.wait(0), qmgl_wait_timeout);
}

TEST(Signal, TimedWaitOnAClearSignalTimesOut) {
  qmgl_sync_sema_private signal;
  qmgl_wait_error_indicator outcome = qmgl_wait_failed;
  long long const taken = milliseconds_taken_by([&] { outcome = signal.wait(100); });
  EXPECT_EQ(outcome, qmgl_wait_timeout);
  EXPECT_GE(taken, 80);
  EXPECT_LT(taken, 10000);
}

TEST(NamedSignal, CreateOpenAndAlreadyExists) {
  std::string const name = unique_object_name("signal");
  qmgl_sync_sema_shared created(name.c_str(), qmgl_action_create, qmgl_sync_sema::posted);
  EXPECT_EQ(created.wait(0), qmgl_wait_no_error);
  expect_library_error(raise_of([&] {
                         qmgl_sync_sema_shared again(name.c_str(), qmgl_action_create,
                                                     qmgl_sync_sema::not_posted);
                       }),
                       typeid(exc_already_exists_t), 0x20030021, "exc_already_exists");
  qmgl_sync_sema_shared shared(name.c_str(), qmgl_action_create_or_open,
                               qmgl_sync_sema::not_posted);
  EXPECT_EQ(shared.wait(0), qmgl_wait_no_error) << "opening keeps the state";
  created.reset();
  EXPECT_EQ(shared.wait(0), qmgl_wait_timeout);
  qmgl_sync_sema_shared opened(name.c_str(), qmgl_action_open, qmgl_sync_sema::posted);
  EXPECT_EQ(opened.wait(0), qmgl_wait_timeout);
  opened.post();
  EXPECT_EQ(created.wait(0), qmgl_wait_no_error);

  std::string const absent = unique_object_name("absent");
  expect_system_error(raise_of([&] {
                        qmgl_sync_sema_shared s(absent.c_str(), qmgl_action_open,
                                                qmgl_sync_sema::posted);
                      }),
                      error_file_not_found, sync_file);
}

// Monitors.

TEST(Monitor, HoldsTheLockForItsScope) {
  qmgl_sync_lock_private lock;
  {
    qmgl_sync_monitor hold(lock);
    EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_timeout);
  }
  EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_no_error);
  {
    qmgl_sync_monitor hold(lock, 0);
    EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_timeout);
  }
  EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_no_error);
}

TEST(Monitor, ATimedMonitorOnALockHeldElsewhereRaisesTimeout) {
  observed_lock lock;
  holder_thread holder(lock);
  expect_library_error(raise_of([&] { qmgl_sync_monitor hold(lock, 0); }), typeid(exc_timeout_t),
                       0x20000002, "exc_timeout");
  EXPECT_EQ(lock.get_wait_error(), qmgl_wait_timeout);
  expect_system_error(raise_of([&] { lock.release(); }), error_not_owner, sync_file);
}

TEST(Monitor, AnAbandonedLockRaisesOwnerDiedAndIsLeftFree) {
  qmgl_sync_lock_private lock;
  abandon_on_a_thread(lock);
  expect_library_error(raise_of([&] { qmgl_sync_monitor hold(lock); }), typeid(exc_owner_died_t),
                       0x20030020, "exc_owner_died");
  EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_no_error);

  abandon_on_a_thread(lock);
  expect_library_error(raise_of([&] { qmgl_sync_monitor hold(lock, wait_limit_ms); }),
                       typeid(exc_owner_died_t), 0x20030020, "exc_owner_died");
  EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_no_error);
}

TEST(Monitor, UnlockMonitorGivesTheLockUpForItsScope) {
  qmgl_sync_lock_private lock;
  qmgl_sync_monitor hold(lock);
  {
    qmgl_sync_unlock_monitor let_go(lock);
    EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_no_error);
  }
  EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_timeout);
}

TEST(Monitor, UnlockMonitorRaisesOwnerDiedWhenTheLockWasAbandonedMeanwhile) {
  qmgl_sync_lock_private lock;
  lock.request();
  expect_library_error(raise_of([&] {
                         qmgl_sync_unlock_monitor let_go(lock);
                         abandon_on_a_thread(lock);
                       }),
                       typeid(exc_owner_died_t), 0x20030020, "exc_owner_died");
  EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_no_error) << "released before raising";
}

TEST(Monitor, UnlockMonitorKeepsTheLockQuietlyWhileAnotherExceptionUnwinds) {
  observed_lock lock;
  lock.request();
  bool caught = false;
  try {
    qmgl_sync_unlock_monitor let_go(lock);
    abandon_on_a_thread(lock);
    throw std::runtime_error("unwinding");
  } catch (std::runtime_error const& e) {
    caught = std::string(e.what()) == "unwinding";
  }
  EXPECT_TRUE(caught);
  EXPECT_EQ(lock.get_wait_error(), qmgl_wait_abandoned);
  EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_timeout) << "held again";
  lock.release();
  EXPECT_EQ(request_elsewhere(lock, 0), qmgl_wait_no_error);
}

// The critical region.

TEST(Guard, ReentrantForItsOwnerAndExclusiveBetweenThreads) {
  qmgl_guard guard;
  guard.enterCriticalRegion();
  guard.enterCriticalRegion();
  guard.leaveCriticalRegion();
  guard.leaveCriticalRegion();

  long long total = 0;  // guarded by nothing but the region
  auto add = [&] {
    for (int i = 0; i < 20000; ++i) {
      guard.enterCriticalRegion();
      total = total + 1;
      guard.leaveCriticalRegion();
    }
  };
  std::thread first(add);
  std::thread second(add);
  add();
  first.join();
  second.join();
  EXPECT_EQ(total, 60000);
}

}  // namespace
