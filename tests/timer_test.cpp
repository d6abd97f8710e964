// The process-wide timer. Its thread looks at its entries once a second, so these tests take a
// few passes each; they wait for what the callbacks report, never for a fixed time.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_sync.h>
#include <wygl/qmgl_timer.h>

#include "support/raised.h"
#include "support/record_watch.h"
#include "support/trace_capture.h"

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;
using names = std::vector<std::string>;

constexpr long limit_ms = 20000;  // for waits that end as soon as the other side acts
constexpr std::uint32_t error_text = 0x06040000;

// Timer tracepoints: 1 constructor, 3 terminate, 4 add_periodic, 7 thread, 8 create, 9 destroy.
constexpr std::uint32_t tp(unsigned n) {
  return 0x14230000 + (n << 8);
}

// What the callbacks of a test report: the names of those called, when, and those deleted.
struct book {
  std::mutex lock;
  std::condition_variable changed;
  names calls;
  std::vector<clock_type::time_point> times;  // of the calls
  names deleted;

  void note(names& list, std::string const& name) {
    std::lock_guard<std::mutex> const hold(lock);
    list.push_back(name);
    if (&list == &calls) times.push_back(clock_type::now());
    changed.notify_all();
  }
  // True once there were at least this many calls and deletions, waiting at most limit_ms.
  bool reached(std::size_t call_count, std::size_t delete_count) {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, std::chrono::milliseconds(limit_ms), [&] {
      return calls.size() >= call_count && deleted.size() >= delete_count;
    });
  }
  template <class T>
  T seen(T const& list) {
    std::lock_guard<std::mutex> const hold(lock);
    return list;
  }
};

struct probe : qmgl_callback<int> {
  book& log;
  std::string name;
  std::function<void()> on_call;

  probe(book& b, std::string n, std::function<void()> extra = {})
      : log(b), name(std::move(n)), on_call(std::move(extra)) {}
  ~probe() override { log.note(log.deleted, name); }
  void call(int&) override {
    log.note(log.calls, name);
    if (on_call) on_call();
  }
};

qmgl_timer& timer() {
  return qmgl_timer::getSelf();
}

// Every test starts and ends without a timer; what the callbacks use outlives them.
class Timer : public ::testing::Test {
 protected:
  void TearDown() override {
    if (!raise_of([] { qmgl_timer::getSelf(); }).thrown) qmgl_timer::destroy();
  }
  book log;
  std::atomic<long> ids[2] = {0, 0};
  std::atomic<long> hold_ms{800};
  qmgl_sync_sema_private held;
  qmgl_sync_sema_private release;
};

}  // namespace

// One timer's life: refusals; callbacks that register and remove entries; an alarm that comes
// due and registrations that do not; entries of no period; a call that outlasts terminate's
// 2000 ms and then throws, which holds up destroy and ends the thread; the records with data.
TEST_F(Timer, LifeRegistrationsAndCallbacks) {
  trace_capture capture(0x8 | 0x1000 | 0x4000);
  qmgl_timer* first = nullptr;
  std::vector<std::tuple<std::function<void()>, std::uint32_t, char const*>> const refusals = {
      {[] { qmgl_timer::getSelf(); }, 0x20030000, "unexpected null pointer"},
      {[] { qmgl_timer::destroy(); }, 0x20030022, "exc_does_not_exist"},
      {[&] { qmgl_timer::create(), first = &timer(), qmgl_timer::create(); }, 0x20030021,
       "exc_already_exists"},
      {[] { timer().add_periodic(nullptr, 1); }, 0x20000004, "system error 536870916"},
  };
  for (auto const& [call, code, message] : refusals) {
    raised const result = raise_of(call);
    EXPECT_EQ(result.code, code);
    EXPECT_STREQ(result.file, "src/qmgl/qmgl_timer");
    EXPECT_EQ(result.message, message);
  }
  EXPECT_EQ(&timer(), first) << "the timer that exists is kept";
  std::uint64_t const object = object_word(first);

  // In one pass, the starter registers the mutator and then the victim; the mutator removes
  // the victim before the walk reaches it, registers a newcomer and removes its own entry,
  // which goes once its call returns.
  auto const mutator = [this] {
    EXPECT_TRUE(timer().remove(ids[0]));
    EXPECT_TRUE(timer().remove(ids[1]));
    timer().add_alarm(new probe(log, "newcomer"), 0);
  };
  auto const starter = [this, mutator] {
    ids[1] = timer().add_periodic(new probe(log, "mutator", mutator), 0);
    ids[0] = timer().add_periodic(new probe(log, "victim"), 0);
  };
  timer().add_alarm(new probe(log, "starter", starter), 0);
  ASSERT_TRUE(log.reached(3, 4));
  EXPECT_EQ(log.seen(log.deleted), (names{"starter", "victim", "mutator", "newcomer"}));
  EXPECT_FALSE(timer().remove(ids[1]));

  clock_type::time_point const added = clock_type::now();
  timer().add_alarm(new probe(log, "due"), 3);
  long const alarm = timer().add_alarm(new probe(log, "alarm"), 1000);
  timer().add_periodic(new probe(log, "periodic"), 1000);
  EXPECT_TRUE(timer().remove(alarm));
  EXPECT_FALSE(timer().remove(alarm));
  // Due 3 whole seconds after the second of the registration, on a pass about once a second:
  // between 2 and 4 seconds, and a little later on a busy machine; then deleted.
  ASSERT_TRUE(log.reached(4, 6));
  EXPECT_GE(log.seen(log.times)[3] - added, 1950ms);
  EXPECT_LE(log.seen(log.times)[3] - added, 5500ms);

  // Entries of no period come due on every pass, in the order of their registration; a slow
  // call does not make up the passes it let go by.
  auto const slow = [this] {
    long const ms = hold_ms;
    if (ms > 800) held.post();
    release.wait(ms);  // the callback's own work
    if (ms > 800) throw std::runtime_error("failed");
  };
  auto const registrar = [this, slow] {  // both in one call: no pass comes between them
    timer().add_periodic(new probe(log, "zero"), 0);
    timer().add_periodic(new probe(log, "slow", slow), -5);
  };
  timer().add_alarm(new probe(log, "registrar", registrar), 0);
  ASSERT_TRUE(log.reached(9, 0));
  hold_ms = 4 * limit_ms;
  names const called = log.seen(log.calls);
  std::vector<clock_type::time_point> const times = log.seen(log.times);
  EXPECT_EQ(names(called.begin() + 4, called.begin() + 9),
            (names{"registrar", "zero", "slow", "zero", "slow"}));
  EXPECT_GE(times[8] - times[6], 800ms + 900ms);
  EXPECT_LE(times[8] - times[6], 800ms + 3000ms);

  ASSERT_EQ(held.wait(limit_ms), qmgl_wait_no_error);
  record_watch terminate_returned(0x06210000, tp(3));
  qmgl_sync_sema_private destroyed;
  std::thread destroyer([&] {
    EXPECT_EQ(timer().terminate(), 0);
    qmgl_timer::destroy();
    destroyed.post();
  });
  EXPECT_TRUE(terminate_returned.seen_within(limit_ms));
  EXPECT_EQ(destroyed.wait(0), qmgl_wait_timeout);
  EXPECT_EQ(log.seen(log.deleted).size(), 7u) << "nothing freed under the running call";
  release.post();
  EXPECT_EQ(destroyed.wait(limit_ms), qmgl_wait_no_error);
  destroyer.join();
  EXPECT_EQ(names(log.deleted.begin() + 7, log.deleted.end()), (names{"periodic", "zero", "slow"}));

  // The start names the thread's identifier and handle; terminate names the handle again.
  std::vector<captured_record> const records = capture.take();
  auto const at = [&](std::uint32_t t) {
    return records_where(records, [t](captured_record const& r) { return r.tracepoint == t; });
  };
  std::vector<captured_record> const built = at(tp(1));
  ASSERT_EQ(built.size(), 3u);
  std::smatch started;
  ASSERT_TRUE(std::regex_match(built[1].data, started,
                               std::regex("Thread Started with ID:[1-9][0-9]* (Handle=.+)\n")));
  EXPECT_EQ(built[1], text_record(0x06220000, tp(1), object, started[0]));
  EXPECT_EQ(at(tp(3)),
            (std::vector<captured_record>{text_record(0x06200000, tp(3), object, started[1]),
                                          value_record(0x06210000, tp(3), object, 0)}));
  // The error texts of the refused destroy, create and add_periodic, and of the thread.
  std::string const caught = "In catch ERROR\n";
  EXPECT_EQ(
      records_where(records, [](captured_record const& r) { return r.kind == error_text; }),
      (std::vector<captured_record>{text_record(error_text, tp(9), nullptr, caught),
                                    text_record(error_text, tp(8), nullptr, "Already Exists\n"),
                                    text_record(error_text, tp(8), nullptr, caught),
                                    text_record(error_text, tp(4), object, caught),
                                    text_record(error_text, tp(7), object, caught)}));
  qmgl_timer::create();  // again, after a destroy
}
