// The process-wide timer: alarms and periodic entries on the timer thread.
//
// The thread looks at its entries once a second, so these tests take a few passes each; they
// wait for what the callbacks report, never for a fixed time.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <typeindex>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_sync.h>
#include <wygl/qmgl_timer.h>

#include "support/raised.h"
#include "support/record_watch.h"
#include "support/trace_capture.h"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr char timer_file[] = "src/qmgl/qmgl_timer";
constexpr long limit_ms = 20000;  // for waits that end as soon as the other side acts

constexpr std::uint32_t entered = 0x06200000;
constexpr std::uint32_t left = 0x06210000;
constexpr std::uint32_t error_text = 0x06040000;
constexpr std::uint32_t resource = 0x06220000;

constexpr std::uint32_t tp_constructor = 0x14230100;
constexpr std::uint32_t tp_destructor = 0x14230200;
constexpr std::uint32_t tp_terminate = 0x14230300;
constexpr std::uint32_t tp_add_periodic = 0x14230400;
constexpr std::uint32_t tp_add_alarm = 0x14230500;
constexpr std::uint32_t tp_remove = 0x14230600;
constexpr std::uint32_t tp_thread = 0x14230700;
constexpr std::uint32_t tp_create = 0x14230800;
constexpr std::uint32_t tp_destroy = 0x14230900;

long long ms_between(clock_type::time_point from, clock_type::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

// What the callbacks of one test report. Each callback holds it, so it lasts as long as the
// last callback, wherever that is deleted.
struct book {
  struct call {
    std::string name;
    clock_type::time_point at;
  };

  std::mutex lock;
  std::vector<call> calls;
  std::vector<std::string> deleted;
  int calls_wanted = -1;    // calls_reached is posted when this many calls were made
  int deletes_wanted = -1;  // deletes_reached likewise for deletions
  qmgl_sync_sema_private calls_reached;
  qmgl_sync_sema_private deletes_reached;
  std::atomic<int> nonzero_arguments{0};

  void note_call(std::string const& name) {
    std::lock_guard<std::mutex> const hold(lock);
    calls.push_back({name, clock_type::now()});
    if (static_cast<int>(calls.size()) == calls_wanted) calls_reached.post();
  }
  void note_delete(std::string const& name) {
    std::lock_guard<std::mutex> const hold(lock);
    deleted.push_back(name);
    if (static_cast<int>(deleted.size()) == deletes_wanted) deletes_reached.post();
  }
  std::vector<std::string> call_names() {
    std::lock_guard<std::mutex> const hold(lock);
    std::vector<std::string> names;
    for (call const& c : calls)
      names.push_back(c.name);
    return names;
  }
  std::vector<call> calls_seen() {
    std::lock_guard<std::mutex> const hold(lock);
    return calls;
  }
  std::vector<std::string> deleted_seen() {
    std::lock_guard<std::mutex> const hold(lock);
    return deleted;
  }
};

// A callback that reports its calls and its deletion; on_call adds what a test needs.
struct probe : qmgl_callback<int> {
  std::shared_ptr<book> log;
  std::string name;
  std::function<void()> on_call;

  probe(std::shared_ptr<book> b, std::string n, std::function<void()> extra = {})
      : log(std::move(b)), name(std::move(n)), on_call(std::move(extra)) {}
  ~probe() override { log->note_delete(name); }

  void call(int& argument) override {
    if (argument != 0) ++log->nonzero_arguments;
    argument = 99;  // ignored by the timer
    log->note_call(name);
    if (on_call) on_call();
  }
};

qmgl_timer& timer() {
  return qmgl_timer::getSelf();
}

bool timer_exists() {
  try {
    qmgl_timer::getSelf();
    return true;
  } catch (exc_assertion_failed_t const&) {
    return false;
  }
}

void expect_caught_report(raised const& r) {
  EXPECT_TRUE(r.thrown);
  EXPECT_EQ(r.type, std::type_index(typeid(exc_unmapped_t)));
  EXPECT_EQ(r.code, 0x20000004u);
  EXPECT_STREQ(r.file, timer_file);
  EXPECT_EQ(r.message, "system error 536870916");
}

std::vector<captured_record> at(std::vector<captured_record> const& records, std::uint32_t tp) {
  return records_where(records, [tp](captured_record const& r) { return r.tracepoint == tp; });
}

class Timer : public ::testing::Test {
 protected:
  void TearDown() override {
    if (timer_exists()) qmgl_timer::destroy();
  }
};

}  // namespace

TEST_F(Timer, CreateDestroyAndGetSelfRefuseTheWrongState) {
  trace_capture capture(0x8);
  raised r = raise_of([] { qmgl_timer::getSelf(); });
  EXPECT_EQ(r.type, std::type_index(typeid(exc_assertion_failed_t)));
  EXPECT_EQ(r.code, 0x20030000u);
  EXPECT_STREQ(r.file, timer_file);
  EXPECT_EQ(r.message, "unexpected null pointer");

  r = raise_of([] { qmgl_timer::destroy(); });
  EXPECT_EQ(r.type, std::type_index(typeid(exc_does_not_exist_t)));
  EXPECT_EQ(r.code, 0x20030022u);
  EXPECT_STREQ(r.file, timer_file);
  EXPECT_EQ(r.message, "exc_does_not_exist");

  qmgl_timer::create();
  qmgl_timer* const first = &timer();
  r = raise_of([] { qmgl_timer::create(); });
  EXPECT_EQ(r.type, std::type_index(typeid(exc_already_exists_t)));
  EXPECT_EQ(r.code, 0x20030021u);
  EXPECT_STREQ(r.file, timer_file);
  EXPECT_EQ(r.message, "exc_already_exists");
  EXPECT_EQ(&timer(), first);  // the timer that exists is kept

  qmgl_timer::destroy();
  EXPECT_FALSE(timer_exists());
  qmgl_timer::create();  // again, after a destroy
  EXPECT_TRUE(timer_exists());
  qmgl_timer::destroy();

  EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                text_record(error_text, tp_destroy, nullptr, "In catch ERROR\n"),
                                text_record(error_text, tp_create, nullptr, "Already Exists\n"),
                                text_record(error_text, tp_create, nullptr, "In catch ERROR\n"),
                            }));
}

TEST_F(Timer, LifecycleRecords) {
  trace_capture capture(0x1000 | 0x4000);
  auto log = std::make_shared<book>();
  qmgl_timer::create();
  std::uint64_t const object = object_word(&timer());
  long const alarm = timer().add_alarm(new probe(log, "alarm"), 1000);
  timer().add_periodic(new probe(log, "periodic"), 1000);
  EXPECT_TRUE(timer().remove(alarm));
  qmgl_timer::destroy();
  std::vector<captured_record> const records = capture.take();

  auto const plain_pair = [](std::uint32_t tp, std::uint64_t o) {
    return std::vector<captured_record>{plain_record(entered, tp, o), value_record(left, tp, o, 0)};
  };
  EXPECT_EQ(at(records, tp_create), plain_pair(tp_create, 0));
  EXPECT_EQ(at(records, tp_destroy), plain_pair(tp_destroy, 0));
  for (std::uint32_t tp : {tp_destructor, tp_add_periodic, tp_add_alarm, tp_remove, tp_thread})
    EXPECT_EQ(at(records, tp), plain_pair(tp, object)) << std::hex << tp;

  std::vector<captured_record> const built = at(records, tp_constructor);
  ASSERT_EQ(built.size(), 3u);
  std::string const started = built[1].data;
  std::string const prefix = "Thread Started with ID:";
  ASSERT_EQ(started.rfind(prefix, 0), 0u) << started;
  std::size_t const handle_at = started.find(" Handle=");
  ASSERT_NE(handle_at, std::string::npos) << started;
  std::string const id = started.substr(prefix.size(), handle_at - prefix.size());
  EXPECT_EQ(id.find_first_not_of("0123456789"), std::string::npos) << id;
  EXPECT_NE(std::stoul(id), 0u);
  ASSERT_EQ(started.back(), '\n');
  std::string const handle = started.substr(handle_at + 1, started.size() - handle_at - 2);
  EXPECT_EQ(built, (std::vector<captured_record>{
                       plain_record(entered, tp_constructor, object),
                       text_record(resource, tp_constructor, object, started),
                       value_record(left, tp_constructor, object, 0),
                   }));
  // terminate names the thread's handle, as the start reported it.
  EXPECT_EQ(at(records, tp_terminate), (std::vector<captured_record>{
                                           text_record(entered, tp_terminate, object, handle),
                                           value_record(left, tp_terminate, object, 0),
                                       }));
  auto const position = [&](captured_record const& r) {
    return std::find(records.begin(), records.end(), r) - records.begin();
  };
  EXPECT_LT(position(value_record(left, tp_thread, object, 0)),
            position(value_record(left, tp_destructor, object, 0)));
  EXPECT_EQ(log->deleted_seen(), (std::vector<std::string>{"alarm", "periodic"}));
}

TEST_F(Timer, AlarmFiresOnceWithinItsSecondAndIsDeleted) {
  auto log = std::make_shared<book>();
  log->deletes_wanted = 1;
  qmgl_timer::create();
  clock_type::time_point const added = clock_type::now();
  long const id = timer().add_alarm(new probe(log, "alarm"), 3);
  EXPECT_GT(id, 0);
  ASSERT_EQ(log->deletes_reached.wait(limit_ms), qmgl_wait_no_error);
  std::vector<book::call> const calls = log->calls_seen();
  ASSERT_EQ(calls.size(), 1u);
  // Due 3 whole seconds after the second of the registration, on a pass about once a second:
  // between 2 and 4 seconds, and a little later on a busy machine.
  long long const after = ms_between(added, calls[0].at);
  EXPECT_GE(after, 1950);
  EXPECT_LE(after, 5500);
  EXPECT_EQ(log->nonzero_arguments, 0);
  EXPECT_FALSE(timer().remove(id));
  qmgl_timer::destroy();
  EXPECT_EQ(log->deleted_seen(), (std::vector<std::string>{"alarm"}));
  EXPECT_EQ(log->calls_seen().size(), 1u);
}

TEST_F(Timer, EntriesOfNoPeriodFireOnEveryPassInRegistrationOrder) {
  auto log = std::make_shared<book>();
  log->calls_wanted = 7;  // the starter and three passes of both
  qmgl_timer::create();
  // Registered from a callback, both entries come into every pass together.
  timer().add_alarm(new probe(log, "starter",
                              [log] {
                                timer().add_periodic(new probe(log, "zero"), 0);
                                timer().add_periodic(new probe(log, "negative"), -5);
                              }),
                    0);
  ASSERT_EQ(log->calls_reached.wait(limit_ms), qmgl_wait_no_error);
  std::vector<book::call> calls = log->calls_seen();
  ASSERT_GE(calls.size(), 7u);
  EXPECT_EQ(calls[0].name, "starter");
  calls.erase(calls.begin());
  // In the starter's pass, "zero" is due only if the clock has not moved on since the pass
  // began; "negative" is due in any case.
  if (calls[0].name == "negative") calls.erase(calls.begin());
  std::vector<std::string> names;
  for (std::size_t i = 0; i < 4; ++i)
    names.push_back(calls[i].name);
  EXPECT_EQ(names, (std::vector<std::string>{"zero", "negative", "zero", "negative"}));
  long long const pass = ms_between(calls[0].at, calls[2].at);
  EXPECT_GE(pass, 900);
  EXPECT_LE(pass, 3000);
}

TEST_F(Timer, SlowPeriodicCallbackFiresOncePerPass) {
  auto log = std::make_shared<book>();
  log->calls_wanted = 2;
  constexpr long slow_ms = 800;
  qmgl_timer::create();
  timer().add_periodic(new probe(log, "slow",
                                 [] {
                                   // The callback's own work: it takes slow_ms.
                                   qmgl_sync_sema_private never;
                                   never.wait(slow_ms);
                                 }),
                       1);
  ASSERT_EQ(log->calls_reached.wait(limit_ms), qmgl_wait_no_error);
  std::vector<book::call> const calls = log->calls_seen();
  // The second call comes on the next pass, a full wait after the slow one: the periods that
  // the slow call let pass are not made up.
  long long const gap = ms_between(calls[0].at, calls[1].at);
  EXPECT_GE(gap, slow_ms + 900);
  EXPECT_LE(gap, slow_ms + 3000);
}

TEST_F(Timer, RemoveDeletesOnlyARegisteredEntry) {
  auto log = std::make_shared<book>();
  qmgl_timer::create();
  long const alarm = timer().add_alarm(new probe(log, "alarm"), 1000);
  long const periodic = timer().add_periodic(new probe(log, "periodic"), 1000);
  EXPECT_GT(alarm, 0);
  EXPECT_GT(periodic, 0);
  EXPECT_NE(alarm, periodic);

  EXPECT_FALSE(timer().remove(alarm + periodic + 1000));
  EXPECT_TRUE(log->deleted_seen().empty());
  EXPECT_TRUE(timer().remove(alarm));
  EXPECT_EQ(log->deleted_seen(), (std::vector<std::string>{"alarm"}));
  EXPECT_FALSE(timer().remove(alarm));
  qmgl_timer::destroy();
  EXPECT_EQ(log->deleted_seen(), (std::vector<std::string>{"alarm", "periodic"}));
  EXPECT_TRUE(log->calls_seen().empty());
}

TEST_F(Timer, CallbackRegistersAndRemovesOtherEntries) {
  auto log = std::make_shared<book>();
  log->deletes_wanted = 4;
  auto victim = std::make_shared<std::atomic<long>>(0);
  auto removed = std::make_shared<std::atomic<bool>>(false);
  qmgl_timer::create();
  // The starter registers the mutator, then the victim behind it, in one pass; the mutator
  // removes the victim before the walk reaches it and registers a newcomer.
  timer().add_alarm(new probe(log, "starter",
                              [log, victim, removed] {
                                timer().add_alarm(new probe(log, "mutator",
                                                            [log, victim, removed] {
                                                              *removed = timer().remove(*victim);
                                                              timer().add_alarm(
                                                                  new probe(log, "newcomer"), 0);
                                                            }),
                                                  0);
                                *victim = timer().add_periodic(new probe(log, "victim"), 0);
                              }),
                    0);
  ASSERT_EQ(log->deletes_reached.wait(limit_ms), qmgl_wait_no_error);
  EXPECT_TRUE(*removed);
  EXPECT_EQ(log->call_names(), (std::vector<std::string>{"starter", "mutator", "newcomer"}));
  std::vector<std::string> deleted = log->deleted_seen();
  std::sort(deleted.begin(), deleted.end());
  EXPECT_EQ(deleted, (std::vector<std::string>{"mutator", "newcomer", "starter", "victim"}));
}

TEST_F(Timer, CallbackMayRemoveItsOwnEntry) {
  auto log = std::make_shared<book>();
  log->deletes_wanted = 2;
  auto own = std::make_shared<std::atomic<long>>(0);
  auto removed = std::make_shared<std::atomic<int>>(0);
  qmgl_timer::create();
  // Registered from a callback, so that its identifier is known before it can fire.
  timer().add_alarm(new probe(log, "starter",
                              [log, own, removed] {
                                *own = timer().add_periodic(new probe(log, "self-remover",
                                                                      [own, removed] {
                                                                        if (timer().remove(*own))
                                                                          ++*removed;
                                                                      }),
                                                            0);
                              }),
                    0);
  ASSERT_EQ(log->deletes_reached.wait(limit_ms), qmgl_wait_no_error);
  EXPECT_EQ(*removed, 1);
  EXPECT_EQ(log->call_names(), (std::vector<std::string>{"starter", "self-remover"}));
  EXPECT_EQ(log->deleted_seen(), (std::vector<std::string>{"starter", "self-remover"}));
  EXPECT_FALSE(timer().remove(*own));
}

TEST_F(Timer, DestroyDeletesEveryCallbackOnce) {
  auto log = std::make_shared<book>();
  qmgl_timer::create();
  timer().add_alarm(new probe(log, "a"), 1000);
  timer().add_periodic(new probe(log, "b"), 1000);
  timer().add_alarm(new probe(log, "c"), 2000);
  EXPECT_EQ(timer().terminate(), 0);
  // Accepted after terminate, but nothing fires any more.
  EXPECT_GT(timer().add_alarm(new probe(log, "d"), 0), 0);
  qmgl_timer::destroy();
  EXPECT_EQ(log->deleted_seen(), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_TRUE(log->calls_seen().empty());
}

// A callback that outlasts terminate's 2000 ms holds up destroy, which must not free the
// entries under it.
TEST_F(Timer, DestroyWaitsForARunningCallback) {
  trace_capture capture(0x1000);
  auto log = std::make_shared<book>();
  auto entered_call = std::make_shared<qmgl_sync_sema_private>();
  auto release = std::make_shared<qmgl_sync_sema_private>();
  qmgl_timer::create();
  timer().add_periodic(new probe(log, "blocker",
                                 [entered_call, release] {
                                   entered_call->post();
                                   release->wait(4 * limit_ms);
                                 }),
                       0);
  ASSERT_EQ(entered_call->wait(limit_ms), qmgl_wait_no_error);

  record_watch terminate_returned(left, tp_terminate);
  qmgl_sync_sema_private destroyed;
  std::thread destroyer([&] {
    qmgl_timer::destroy();
    destroyed.post();
  });
  bool const waited = terminate_returned.seen_within(limit_ms);
  EXPECT_TRUE(waited);
  EXPECT_EQ(destroyed.wait(0), qmgl_wait_timeout);
  EXPECT_TRUE(log->deleted_seen().empty());
  release->post();
  EXPECT_EQ(destroyed.wait(limit_ms), qmgl_wait_no_error);
  destroyer.join();
  EXPECT_EQ(log->call_names(), (std::vector<std::string>{"blocker"}));
  EXPECT_EQ(log->deleted_seen(), (std::vector<std::string>{"blocker"}));
}

TEST_F(Timer, ThrowingCallbackEndsTheThread) {
  trace_capture capture(0x8);
  auto log = std::make_shared<book>();
  record_watch failed(error_text, tp_thread);
  qmgl_timer::create();
  std::uint64_t const object = object_word(&timer());
  timer().add_periodic(new probe(log, "thrower", [] { throw std::runtime_error("failed"); }), 0);
  ASSERT_TRUE(failed.seen_within(limit_ms));
  qmgl_timer::destroy();
  EXPECT_EQ(log->call_names(), (std::vector<std::string>{"thrower"}));  // no pass after it
  EXPECT_EQ(log->deleted_seen(), (std::vector<std::string>{"thrower"}));
  EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                text_record(error_text, tp_thread, object, "In catch ERROR\n")}));
}

TEST_F(Timer, NullCallbackIsRefused) {
  trace_capture capture(0x8);
  qmgl_timer::create();
  std::uint64_t const object = object_word(&timer());
  expect_caught_report(raise_of([] { timer().add_alarm(nullptr, 1); }));
  expect_caught_report(raise_of([] { timer().add_periodic(nullptr, 1); }));
  qmgl_timer::destroy();
  EXPECT_EQ(capture.take(),
            (std::vector<captured_record>{
                text_record(error_text, tp_add_alarm, object, "In catch ERROR\n"),
                text_record(error_text, tp_add_periodic, object, "In catch ERROR\n"),
            }));
}
