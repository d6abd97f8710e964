// Threads: the detached start with its stack rule, and the thread objects.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_sync.h>
#include <wygl/qmgl_thread.h>

#include "qmgl/qmgl_thread_object.h"
#include "support/raised.h"
#include "support/thread_stack.h"
#include "support/trace_capture.h"
#include "wytr/wytr_record.h"

namespace {

constexpr long limit_ms = 20000;  // for waits that end as soon as the other side acts
constexpr std::uint32_t thread_tp = 0x14020000;

// What a thread shares with its test; the thread holds its own reference (its argument).
struct rendezvous {
  qmgl_sync_sema_private release, finished;
  void (*last_act)() = nullptr;  // what the thread does before it reports its end
};
using share = std::shared_ptr<rendezvous>;

std::uint32_t held(void* p) {
  std::unique_ptr<share> const mine(static_cast<share*>(p));
  rendezvous& r = **mine;
  r.release.wait(limit_ms);
  if (r.last_act != nullptr) r.last_act();
  r.finished.post();
  return 0xFFFFFFFEu;  // the whole 32 bits come through
}

// What a call raised: busy (the thread still runs), or no handle to wait for.
void expect_raised(raised const& r, bool busy) {
  EXPECT_EQ(r.type, busy ? typeid(exc_object_busy_t) : typeid(exc_unmapped_t));
  EXPECT_EQ(r.code, busy ? 0x2003001Eu : 6u);
  EXPECT_STREQ(r.file, "src/qmgl/qmgl_thread");
  EXPECT_EQ(r.message, busy ? "exc_object_busy" : system_text(6).substr(0, 159));
}

// More than any platform's default stack (at most 32 MB), and what start, guard pages and
// thread-local data may take of it (TSan's alone is most of 1 MB, in a POSIX stack block).
constexpr std::uintptr_t stack_asked = std::uintptr_t{40} << 20, stack_slack = 1 << 20;
constexpr std::size_t frame_size = 4096;

// Uses the stack, every page written, until a frame lies below floor; returns the deepest.
[[gnu::noinline]] std::uintptr_t deepest_frame(std::uintptr_t floor, std::size_t depth) {
  volatile char frame[frame_size];
  for (std::size_t i = 0; i < frame_size; i += 256)
    frame[i] = static_cast<char>(i);
  auto const here = reinterpret_cast<std::uintptr_t>(&frame[0]);
  if (here < floor || depth == 0) return here;
  std::uintptr_t const deepest = deepest_frame(floor, depth - 1);
  return frame[0] == 0 ? deepest : 0;  // read after the call, so that it is no tail call
}

}  // namespace

TEST(Thread, DetachedStackSizeRule) {
  std::pair<unsigned, std::uint64_t> const cases[] = {
      {0, 8192}, {8191, 8192}, {8192, 12288}, {12288, 16384}, {0xFFFFFFFFu, 1ull << 32}};
  for (auto const& [asked, given] : cases)
    EXPECT_EQ(qmgl_pl_thread_stack_size(asked), given) << asked;
}

// Threads run on after their objects are gone. The smallest stack still carries the trace
// writer (its text buffer alone is 64 KB); a large one is reported by the system and usable
// (only as deep as reported, so that a short stack fails the test instead of crashing it).
TEST(Thread, DetachedThreadsGetTheirStacksAndThreadsRunOnWithoutTheirObjects) {
  trace_capture capture(0x8);
  static std::uintptr_t room = 0, used = 0;
  share const smallest = std::make_shared<rendezvous>(), large = std::make_shared<rendezvous>(),
              async = std::make_shared<rendezvous>();
  smallest->last_act = [] {
    wytr::write_text(0x06040000, 0x14220700, nullptr, "%s %d", "from the thread", 4096);
  };
  large->last_act = [] {
    char here = 0;
    auto const top = reinterpret_cast<std::uintptr_t>(&here);
    std::uintptr_t const floor = stack_floor_of_this_thread();
    room = floor != 0 && floor < top ? top - floor : 0;
    if (room >= stack_asked - stack_slack)
      used = top - deepest_frame(top - (stack_asked - 2 * stack_slack), stack_asked / frame_size);
  };
  {
    qmgl_pl_thread a([](void* p) { held(p); }, new share(smallest), 0);
    qmgl_pl_thread b([](void* p) { held(p); }, new share(large), unsigned{stack_asked - 1});
    qmgl_thread_async t(held, new share(async));
  }
  for (share const& r : {smallest, large, async}) {
    r->release.post();
    ASSERT_EQ(r->finished.wait(limit_ms), qmgl_wait_no_error);
  }
  EXPECT_GE(used, stack_asked - 2 * stack_slack) << "the system reports " << room;
  EXPECT_EQ(capture.take(), (std::vector<captured_record>{text_record(
                                0x06040000, 0x14220700, nullptr, "from the thread 4096")}));
}

TEST(Thread, AnAsyncThreadIsBusyUntilAWaitCollectsItsEnd) {
  for (long const limit : {limit_ms, -1L}) {
    SCOPED_TRACE(limit);
    auto const r = std::make_shared<rendezvous>();
    qmgl_thread_async t(held, new share(r));
    expect_raised(raise_of([&] { t.get_exit_code(); }), true);
    EXPECT_TRUE(t.wait(0));  // still running: nothing changes
    expect_raised(raise_of([&] { t.get_exit_code(); }), true);
    r->release.post();
    EXPECT_FALSE(limit < 0 ? (t.wait(), false) : t.wait(limit));
    EXPECT_EQ(t.get_exit_code(), 0xFFFFFFFEu);
    expect_raised(raise_of([&] { t.wait(); }), false);  // the handle went with the end
    EXPECT_EQ(t.get_exit_code(), 0xFFFFFFFEu);
  }
}

// An object without a thread, and a sync one that returns after its routine; both traced.
TEST(Thread, IdleAndSyncObjects) {
  trace_capture capture(0x800);
  auto const seven = [](void*) -> std::uint32_t { return 7; };
  std::uint64_t idle = 0, started = 0;
  {
    qmgl_thread t;
    idle = object_word(&t);
    EXPECT_EQ(t.get_exit_code(), 0u);
  }
  {
    qmgl_thread_sync t(seven, &capture);
    started = object_word(&t);
    EXPECT_EQ(t.get_exit_code(), 7u);
  }
  char routine_and_argument[64];
  std::snprintf(routine_and_argument, sizeof routine_and_argument, "%p, %p",
                reinterpret_cast<void const*>(+seven), static_cast<void const*>(&capture));
  EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                plain_record(0x061E0000, thread_tp, idle),
                                plain_record(0x061F0000, thread_tp, idle),
                                text_record(0x061E0000, thread_tp, started, routine_and_argument),
                                plain_record(0x061F0000, thread_tp, started)}));
}
