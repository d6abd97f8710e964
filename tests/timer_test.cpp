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
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
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

constexpr long limit_ms = 20000;  // for waits that end as soon as the other side acts

constexpr std::uint32_t entered = 0x06200000;
constexpr std::uint32_t left = 0x06210000;
constexpr std::uint32_t error_text = 0x06040000;

constexpr std::uint32_t tp_constructor = 0x14230100;
constexpr std::uint32_t tp_destructor = 0x14230200;
constexpr std::uint32_t tp_terminate = 0x14230300;
constexpr std::uint32_t tp_add_periodic = 0x14230400;
constexpr std::uint32_t tp_add_alarm = 0x14230500;
constexpr std::uint32_t tp_remove = 0x14230600;
constexpr std::uint32_t tp_thread = 0x14230700;
constexpr std::uint32_t tp_create = 0x14230800;
constexpr std::uint32_t tp_destroy = 0x14230900;

// What the callbacks of one test report. Each callback holds it, so it lasts as long as the
// last callback, wherever that is deleted.
struct book {
  std::mutex lock;
  std::vector<std::string> calls;
  std::vector<clock_type::time_point> call_times;
  std::vector<std::string> deleted;
  std::size_t calls_wanted = 0;    // calls_reached is posted when this many calls were made
  std::size_t deletes_wanted = 0;  // deletes_reached likewise for deletions
  qmgl_sync_sema_private calls_reached;
  qmgl_sync_sema_private deletes_reached;

  void note(std::vector<std::string>& list, std::string const& name) {
    std::lock_guard<std::mutex> const hold(lock);
    list.push_back(name);
    if (&list == &calls) call_times.push_back(clock_type::now());
    if (&list == &calls && calls.size() == calls_wanted) calls_reached.post();
    if (&list == &deleted && deleted.size() == deletes_wanted) deletes_reached.post();
  }
  // A copy of one of the lists, taken under the lock.
  template <class T>
  T seen(T const& list) {
    std::lock_guard<std::mutex> const hold(lock);
    return list;
  }
};

// A callback that reports its calls and its deletion; on_call adds what a test needs.
struct probe : qmgl_callback<int> {
  std::shared_ptr<book> log;
  std::string name;
  std::function<void()> on_call;

  probe(std::shared_ptr<book> b, std::string n, std::function<void()> extra = {})
      : log(std::move(b)), name(std::move(n)), on_call(std::move(extra)) {}
  ~probe() override { log->note(log->deleted, name); }

  void call(int& argument) override {
    EXPECT_EQ(argument, 0);
    argument = 99;  // ignored by the timer
    log->note(log->calls, name);
    if (on_call) on_call();
  }
};

qmgl_timer& timer() {
  return qmgl_timer::getSelf();
}

long long ms_between(clock_type::time_point from, clock_type::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

std::vector<captured_record> at(std::vector<captured_record> const& records, std::uint32_t tp) {
  return records_where(records, [tp](captured_record const& r) { return r.tracepoint == tp; });
}

// The records of successive calls at tracepoint tp on the object o: for each call its entry,
// the error texts given for it (each ending in a newline) and its exit.
std::vector<captured_record> calls_at(std::uint32_t tp, std::uint64_t o,
                                      std::vector<std::string> const& errors) {
  std::vector<captured_record> records;
  for (std::string const& texts : errors) {
    records.push_back(plain_record(entered, tp, o));
    for (std::size_t from = 0, end; (end = texts.find('\n', from)) != std::string::npos;
         from = end + 1)
      records.push_back(text_record(error_text, tp, o, texts.substr(from, end + 1 - from)));
    records.push_back(value_record(left, tp, o, 0));
  }
  return records;
}

// Every test starts and ends without a timer.
class Timer : public ::testing::Test {
 protected:
  void TearDown() override {
    if (raise_of([] { qmgl_timer::getSelf(); }).thrown) return;
    qmgl_timer::destroy();
  }
};

}  // namespace

// create, destroy and getSelf in the wrong state; then registrations that do not come due:
// identifiers, removal, refusal of a null callback, terminate and destroy, with the records of
// each call.
TEST_F(Timer, LifecycleAndRegistrationsThatDoNotComeDue) {
  trace_capture capture(0x8 | 0x1000 | 0x4000);
  qmgl_timer* first = nullptr;
  struct refusal {
    std::function<void()> call;
    std::uint32_t code;
    char const* message;
  };
  std::vector<refusal> const table = {
      {[] { qmgl_timer::getSelf(); }, 0x20030000, "unexpected null pointer"},
      {[] { qmgl_timer::destroy(); }, 0x20030022, "exc_does_not_exist"},
      {[&] { qmgl_timer::create(), first = &timer(), qmgl_timer::create(); }, 0x20030021,
       "exc_already_exists"},
      {[] { timer().add_alarm(nullptr, 1); }, 0x20000004, "system error 536870916"},
      {[] { timer().add_periodic(nullptr, 1); }, 0x20000004, "system error 536870916"},
  };
  for (refusal const& r : table) {
    raised const result = raise_of(r.call);
    EXPECT_EQ(result.code, r.code);
    EXPECT_STREQ(result.file, "src/qmgl/qmgl_timer");
    EXPECT_EQ(result.message, r.message);
  }
  EXPECT_EQ(&timer(), first) << "the timer that exists is kept";
  std::uint64_t const object = object_word(first);

  auto log = std::make_shared<book>();
  long const alarm = timer().add_alarm(new probe(log, "alarm"), 1000);
  long const periodic = timer().add_periodic(new probe(log, "periodic"), 1000);
  timer().add_alarm(new probe(log, "later"), 2000);
  EXPECT_NE(alarm, periodic);
  EXPECT_FALSE(timer().remove(alarm + periodic + 1000));
  EXPECT_TRUE(log->seen(log->deleted).empty());
  EXPECT_TRUE(timer().remove(alarm));
  EXPECT_EQ(log->seen(log->deleted), (std::vector<std::string>{"alarm"}));
  EXPECT_FALSE(timer().remove(alarm));
  EXPECT_EQ(timer().terminate(), 0);
  EXPECT_GT(timer().add_alarm(new probe(log, "after"), 0), 0) << "accepted, never called";
  qmgl_timer::destroy();
  EXPECT_EQ(log->seen(log->deleted),
            (std::vector<std::string>{"alarm", "periodic", "later", "after"}));
  EXPECT_TRUE(log->seen(log->calls).empty());

  std::vector<captured_record> const records = capture.take();
  std::string const caught = "In catch ERROR\n";
  EXPECT_EQ(at(records, tp_create), calls_at(tp_create, 0, {"", "Already Exists\n" + caught}));
  EXPECT_EQ(at(records, tp_destroy), calls_at(tp_destroy, 0, {caught, ""}));
  EXPECT_EQ(at(records, tp_add_alarm), calls_at(tp_add_alarm, object, {caught, "", "", ""}));
  EXPECT_EQ(at(records, tp_add_periodic), calls_at(tp_add_periodic, object, {caught, ""}));
  EXPECT_EQ(at(records, tp_remove), calls_at(tp_remove, object, {"", "", ""}));
  for (std::uint32_t tp : {tp_destructor, tp_thread})
    EXPECT_EQ(at(records, tp), calls_at(tp, object, {""})) << std::hex << tp;

  // The start names the thread's identifier and handle; terminate names the handle again.
  std::vector<captured_record> const built = at(records, tp_constructor);
  ASSERT_EQ(built.size(), 3u);
  std::smatch started;
  ASSERT_TRUE(std::regex_match(built[1].data, started,
                               std::regex("Thread Started with ID:[1-9][0-9]* (Handle=.+)\n")))
      << built[1].data;
  EXPECT_EQ(built, (std::vector<captured_record>{
                       plain_record(entered, tp_constructor, object),
                       text_record(0x06220000, tp_constructor, object, started[0]),
                       value_record(left, tp_constructor, object, 0),
                   }));
  EXPECT_EQ(at(records, tp_terminate), (std::vector<captured_record>{
                                           text_record(entered, tp_terminate, object, started[1]),
                                           value_record(left, tp_terminate, object, 0),
                                       }));
  qmgl_timer::create();  // again, after a destroy
}

TEST_F(Timer, AlarmFiresOnceWithinItsSecondAndIsDeleted) {
  auto log = std::make_shared<book>();
  log->deletes_wanted = 1;
  qmgl_timer::create();
  clock_type::time_point const added = clock_type::now();
  long const id = timer().add_alarm(new probe(log, "alarm"), 3);
  ASSERT_EQ(log->deletes_reached.wait(limit_ms), qmgl_wait_no_error);
  std::vector<clock_type::time_point> const calls = log->seen(log->call_times);
  ASSERT_EQ(calls.size(), 1u);
  // Due 3 whole seconds after the second of the registration, on a pass about once a second:
  // between 2 and 4 seconds, and a little later on a busy machine.
  EXPECT_GE(ms_between(added, calls[0]), 1950);
  EXPECT_LE(ms_between(added, calls[0]), 5500);
  EXPECT_FALSE(timer().remove(id));
  qmgl_timer::destroy();
  EXPECT_EQ(log->seen(log->deleted), (std::vector<std::string>{"alarm"}));
  EXPECT_EQ(log->seen(log->calls).size(), 1u);
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
  std::vector<std::string> names = log->seen(log->calls);
  std::vector<clock_type::time_point> times = log->seen(log->call_times);
  EXPECT_EQ(names[0], "starter");
  // In the starter's pass, "zero" is due only if the clock has not moved on since the pass
  // began; "negative" is due in any case.
  std::size_t const first = names[1] == "negative" ? 2 : 1;
  names = std::vector<std::string>(names.begin() + first, names.begin() + first + 4);
  EXPECT_EQ(names, (std::vector<std::string>{"zero", "negative", "zero", "negative"}));
  long long const pass = ms_between(times[first], times[first + 2]);
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
  std::vector<clock_type::time_point> const calls = log->seen(log->call_times);
  // The second call comes on the next pass, a full wait after the slow one: the periods that
  // the slow call let pass are not made up.
  EXPECT_GE(ms_between(calls[0], calls[1]), slow_ms + 900);
  EXPECT_LE(ms_between(calls[0], calls[1]), slow_ms + 3000);
}

// In one pass, the starter registers the mutator, the victim and the self-remover; the
// mutator removes the victim before the walk reaches it and registers a newcomer, and the
// self-remover removes its own entry, which goes once its call returns.
TEST_F(Timer, CallbacksRegisterAndRemoveEntriesTheirOwnIncluded) {
  auto log = std::make_shared<book>();
  log->deletes_wanted = 5;
  auto victim = std::make_shared<std::atomic<long>>(0);
  auto own = std::make_shared<std::atomic<long>>(0);
  auto removed = std::make_shared<std::atomic<int>>(0);
  qmgl_timer::create();
  auto const mutator = [log, victim, removed] {
    if (timer().remove(*victim)) ++*removed;
    timer().add_alarm(new probe(log, "newcomer"), 0);
  };
  auto const self_remover = [own, removed] {
    if (timer().remove(*own)) *removed += 10;
  };
  timer().add_alarm(new probe(log, "starter",
                              [=] {
                                timer().add_alarm(new probe(log, "mutator", mutator), 0);
                                *victim = timer().add_periodic(new probe(log, "victim"), 0);
                                *own = timer().add_periodic(
                                    new probe(log, "self-remover", self_remover), 0);
                              }),
                    0);
  ASSERT_EQ(log->deletes_reached.wait(limit_ms), qmgl_wait_no_error);
  EXPECT_EQ(*removed, 11);
  EXPECT_EQ(log->seen(log->calls),
            (std::vector<std::string>{"starter", "mutator", "self-remover", "newcomer"}));
  EXPECT_EQ(log->seen(log->deleted),
            (std::vector<std::string>{"starter", "victim", "mutator", "self-remover", "newcomer"}));
  EXPECT_FALSE(timer().remove(*own));
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
  EXPECT_TRUE(terminate_returned.seen_within(limit_ms));
  EXPECT_EQ(destroyed.wait(0), qmgl_wait_timeout);
  EXPECT_TRUE(log->seen(log->deleted).empty());
  release->post();
  EXPECT_EQ(destroyed.wait(limit_ms), qmgl_wait_no_error);
  destroyer.join();
  EXPECT_EQ(log->seen(log->calls), (std::vector<std::string>{"blocker"}));
  EXPECT_EQ(log->seen(log->deleted), (std::vector<std::string>{"blocker"}));
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
  EXPECT_EQ(log->seen(log->calls), (std::vector<std::string>{"thrower"}));  // no pass after it
  EXPECT_EQ(log->seen(log->deleted), (std::vector<std::string>{"thrower"}));
  EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                text_record(error_text, tp_thread, object, "In catch ERROR\n")}));
}
