// Threads: the detached start with its stack rule, and the thread objects that hold their
// thread.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <typeindex>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_sync.h>
#include <wygl/qmgl_thread.h>

#include "os/kernel_object.h"
#include "os/thread.h"
#include "qmgl/qmgl_thread_object.h"
#include "support/raised.h"
#include "support/thread_stack.h"
#include "support/trace_capture.h"
#include "wytr/wytr_record.h"

namespace {

constexpr char thread_file[] = "src/qmgl/qmgl_thread";
constexpr long limit_ms = 20000;  // for waits that end as soon as the other side acts
constexpr std::uint32_t thread_tp = 0x14020000;
constexpr std::uint32_t error_invalid_handle = 6;

// What a started thread shares with its test. The thread holds its own reference, so that
// whatever it touches after its last signal is still there when the test has moved on.
struct rendezvous {
  qmgl_sync_sema_private started;
  qmgl_sync_sema_private release;
  qmgl_sync_sema_private finished;
  std::atomic<bool> ran{false};
  std::atomic<bool> released_in_time{false};
  std::uint32_t result = 0;
};

struct thread_share {
  std::shared_ptr<rendezvous> state;
};

// The routine of a held thread: reports its start, waits to be released, returns the result.
std::uint32_t wait_for_release(void* p) {
  std::unique_ptr<thread_share> const share(static_cast<thread_share*>(p));
  rendezvous& r = *share->state;
  r.ran = true;
  r.started.post();
  r.released_in_time = r.release.wait(limit_ms) == qmgl_wait_no_error;
  r.finished.post();
  return r.result;
}

// A routine that returns its argument, read as a number, at once.
std::uint32_t return_argument(void* p) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

void* as_argument(std::uint32_t value) {
  return reinterpret_cast<void*>(static_cast<std::uintptr_t>(value));
}

void* share_of(std::shared_ptr<rendezvous> const& state) {
  return new thread_share{state};
}

void expect_busy(qmgl_thread const& t) {
  raised const r = raise_of([&] { t.get_exit_code(); });
  EXPECT_TRUE(r.thrown);
  EXPECT_EQ(r.type, std::type_index(typeid(exc_object_busy_t)));
  EXPECT_EQ(r.code, 0x2003001Eu);
  EXPECT_STREQ(r.file, thread_file);
  EXPECT_EQ(r.message, "exc_object_busy");
}

void expect_no_handle(raised const& r) {
  EXPECT_TRUE(r.thrown);
  EXPECT_EQ(r.type, std::type_index(typeid(exc_unmapped_t)));
  EXPECT_EQ(r.code, error_invalid_handle);
  EXPECT_STREQ(r.file, thread_file);
  EXPECT_EQ(r.message, narrow_ascii(error_string(error_invalid_handle)).substr(0, 159));
}

// A stack larger than any platform's default for a thread (at most 32 MB), and what the
// thread's start, guard pages and thread-local data may take of it (a POSIX thread's
// thread-local data lies in its stack block, and ThreadSanitizer's alone is most of 1 MB).
constexpr std::uintptr_t stack_asked = std::uintptr_t{40} << 20;
constexpr std::uintptr_t stack_slack = std::uintptr_t{1} << 20;
constexpr std::size_t stack_frame_size = 4096;

// Uses the stack in frames of stack_frame_size bytes, every page of them written, until a
// frame lies below floor or depth more frames have been used; returns the address of the
// deepest frame.
[[gnu::noinline]] std::uintptr_t deepest_frame(std::uintptr_t floor, std::size_t depth) {
  volatile char frame[stack_frame_size];
  for (std::size_t i = 0; i < stack_frame_size; i += 256)
    frame[i] = static_cast<char>(i);
  auto const here = reinterpret_cast<std::uintptr_t>(&frame[0]);
  if (here < floor || depth == 0) return here;
  std::uintptr_t const deepest = deepest_frame(floor, depth - 1);
  return frame[0] == 0 ? deepest : 0;  // read after the call, so that it is no tail call
}

std::string pointer_pair_text(void const* a, void const* b) {
  char text[64];
  std::snprintf(text, sizeof text, "%p, %p", a, b);
  return text;
}

}  // namespace

TEST(Thread, DetachedStackSizeRule) {
  EXPECT_EQ(qmgl_pl_thread_stack_size(0), 8192u);
  EXPECT_EQ(qmgl_pl_thread_stack_size(4096), 8192u);
  EXPECT_EQ(qmgl_pl_thread_stack_size(8191), 8192u);
  EXPECT_EQ(qmgl_pl_thread_stack_size(8192), 12288u);
  EXPECT_EQ(qmgl_pl_thread_stack_size(10000), 12288u);
  EXPECT_EQ(qmgl_pl_thread_stack_size(12287), 12288u);
  EXPECT_EQ(qmgl_pl_thread_stack_size(12288), 16384u);
  // The largest request does not wrap round to a small stack.
  EXPECT_EQ(qmgl_pl_thread_stack_size(0xFFFFFFFFu), 0x100000000u);
}

// A detached thread asked for more stack than any platform gives by default gets it: the
// system reports nearly that much below the routine's frame, and the routine can use it.
TEST(Thread, DetachedThreadCanUseTheStackItAskedFor) {
  struct stack_probe {
    qmgl_sync_sema_private finished;
    std::uintptr_t room = 0;  // from the routine's frame down to the stack's reported floor
    std::uintptr_t used = 0;  // from the routine's frame down to the deepest frame it reached
  };
  auto probe = std::make_shared<stack_probe>();
  qmgl_pl_thread start(
      [](void* p) {
        std::unique_ptr<std::shared_ptr<stack_probe>> const share(
            static_cast<std::shared_ptr<stack_probe>*>(p));
        stack_probe& s = **share;
        char here = 0;
        auto const top = reinterpret_cast<std::uintptr_t>(&here);
        std::uintptr_t const floor = stack_floor_of_this_thread();
        s.room = floor != 0 && floor < top ? top - floor : 0;
        // Only as deep as the system says the stack goes, so that a short stack fails the
        // test instead of crashing it.
        if (s.room >= stack_asked - stack_slack)
          s.used = top - deepest_frame(top - (stack_asked - 2 * stack_slack),
                                       stack_asked / stack_frame_size);
        s.finished.post();
      },
      new std::shared_ptr<stack_probe>(probe), static_cast<unsigned>(stack_asked - 1));
  ASSERT_EQ(probe->finished.wait(limit_ms), qmgl_wait_no_error);
  EXPECT_GE(probe->room, stack_asked - stack_slack);
  EXPECT_GE(probe->used, stack_asked - 2 * stack_slack);
}

// The smallest stack still carries the library's trace writer, whose text buffer alone is
// 64 KB: a thread with a literal 8192-byte stack would overflow here.
TEST(Thread, DetachedThreadWithSmallestStackWritesATextRecord) {
  trace_capture capture(0x8);
  auto state = std::make_shared<rendezvous>();
  qmgl_pl_thread start(
      [](void* p) {
        std::unique_ptr<thread_share> const share(static_cast<thread_share*>(p));
        wytr::write_text(0x06040000, 0x14220700, nullptr, "%s %d", "from the thread", 4096);
        share->state->ran = true;
        share->state->finished.post();
      },
      share_of(state), 0);
  ASSERT_EQ(state->finished.wait(limit_ms), qmgl_wait_no_error);
  EXPECT_TRUE(state->ran);
  EXPECT_EQ(capture.take(), (std::vector<captured_record>{text_record(
                                0x06040000, 0x14220700, nullptr, "from the thread 4096")}));
}

TEST(Thread, DetachedThreadRunsOnWithoutItsObject) {
  auto state = std::make_shared<rendezvous>();
  {
    qmgl_pl_thread start([](void* p) { wait_for_release(p); }, share_of(state), 10000);
  }
  ASSERT_EQ(state->started.wait(limit_ms), qmgl_wait_no_error);
  state->release.post();
  ASSERT_EQ(state->finished.wait(limit_ms), qmgl_wait_no_error);
  EXPECT_TRUE(state->released_in_time);
}

TEST(Thread, AsyncExitCodeIsBusyUntilWaitedFor) {
  auto state = std::make_shared<rendezvous>();
  state->result = 0xFFFFFFFEu;  // the whole 32 bits come through
  qmgl_thread_async t(wait_for_release, share_of(state));
  expect_busy(t);
  ASSERT_EQ(state->started.wait(limit_ms), qmgl_wait_no_error);

  EXPECT_TRUE(t.wait(0));  // still running: nothing changes
  expect_busy(t);

  state->release.post();
  EXPECT_FALSE(t.wait(limit_ms));
  EXPECT_EQ(t.get_exit_code(), 0xFFFFFFFEu);
  EXPECT_TRUE(state->released_in_time);
  // The handle was given up with the collected end.
  expect_no_handle(raise_of([&] { t.wait(); }));
  EXPECT_EQ(t.get_exit_code(), 0xFFFFFFFEu);
}

TEST(Thread, WaitWithoutLimitCollectsTheEnd) {
  auto state = std::make_shared<rendezvous>();
  state->result = 17;
  qmgl_thread_async t(wait_for_release, share_of(state));
  ASSERT_EQ(state->started.wait(limit_ms), qmgl_wait_no_error);
  state->release.post();
  ASSERT_EQ(state->finished.wait(limit_ms), qmgl_wait_no_error);
  t.wait();  // the routine has returned: the thread's end is moments away
  EXPECT_EQ(t.get_exit_code(), 17u);
}

TEST(Thread, SyncReturnsAfterTheRoutineWithItsExitCode) {
  std::atomic<int> calls{0};
  qmgl_thread_sync t(
      [](void* p) -> std::uint32_t {
        ++*static_cast<std::atomic<int>*>(p);
        return 7;
      },
      &calls);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(t.get_exit_code(), 7u);
}

TEST(Thread, DestroyingTheObjectLeavesTheThreadRunning) {
  auto state = std::make_shared<rendezvous>();
  { qmgl_thread_async t(wait_for_release, share_of(state)); }
  ASSERT_EQ(state->started.wait(limit_ms), qmgl_wait_no_error);
  state->release.post();
  ASSERT_EQ(state->finished.wait(limit_ms), qmgl_wait_no_error);
  EXPECT_TRUE(state->released_in_time);
}

TEST(Thread, WithoutAThreadThereIsNothingToWaitFor) {
  qmgl_thread t;
  EXPECT_EQ(t.get_exit_code(), 0u);
  expect_no_handle(raise_of([&] { t.wait(); }));
  expect_no_handle(raise_of([&] { t.wait(0); }));
}

TEST(Thread, LifetimeRecords) {
  trace_capture capture(0x800);
  std::uint64_t idle = 0;
  std::uint64_t started = 0;
  {
    qmgl_thread t;
    idle = object_word(&t);
  }
  {
    qmgl_thread_sync t(return_argument, as_argument(3));
    started = object_word(&t);
  }
  EXPECT_EQ(capture.take(),
            (std::vector<captured_record>{
                plain_record(0x061E0000, thread_tp, idle),
                plain_record(0x061F0000, thread_tp, idle),
                text_record(0x061E0000, thread_tp, started,
                            pointer_pair_text(reinterpret_cast<void const*>(&return_argument),
                                              as_argument(3))),
                plain_record(0x061F0000, thread_tp, started),
            }));
}

TEST(Thread, SeamReportsStillActiveUntilTheEnd) {
  auto state = std::make_shared<rendezvous>();
  state->result = 5;
  std::uint32_t id = 0;
  wygl::os::handle const h = wygl::os::create_thread(wait_for_release, share_of(state), 0, id);
  ASSERT_NE(h, nullptr);
  EXPECT_NE(id, 0u);
  ASSERT_EQ(state->started.wait(limit_ms), qmgl_wait_no_error);
  std::uint32_t code = 0;
  ASSERT_TRUE(wygl::os::thread_exit_code(h, code));
  EXPECT_EQ(code, wygl::os::thread_still_active);
  EXPECT_EQ(wygl::os::wait_for(h, 0), wygl::os::wait_timed_out);
  state->release.post();
  EXPECT_EQ(wygl::os::wait_for(h, limit_ms), wygl::os::wait_obtained);
  ASSERT_TRUE(wygl::os::thread_exit_code(h, code));
  EXPECT_EQ(code, 5u);
  wygl::os::close_handle(h);
}
