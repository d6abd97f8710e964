// The trace hooks: object lifetimes, operation scopes and their notes, the exit function and
// text records.

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/wytr.h>

#include "support/trace_capture.h"
#include "wytr/wytr_record.h"
#include "wytr/wytr_scope.h"

namespace {

constexpr std::uint32_t thread_tp = 0x14020000;
constexpr std::uint32_t flush_tp = 0x141A0600;

// A polymorphic, non-empty base before the trace base, as traced classes of the library have.
struct payload {
  virtual ~payload() = default;
  long data[4] = {};
};

struct traced : payload, wytr_class<102629376, 2048, 335675392, traced> {
  traced() = default;  // the tracing form
  explicit traced(int silent) : wytr_class(silent) {}
};

}  // namespace

TEST(Trace, LifetimeRecordsNameTheWholeObject) {
  trace_capture capture(0x800);
  std::uint64_t tracing = 0;
  std::uint64_t silent = 0;
  {
    traced a;
    traced const b(0);
    a = b;  // writes nothing
    tracing = object_word(&a);
    silent = object_word(&b);
  }
  EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                plain_record(0x061E0000, thread_tp, tracing),
                                plain_record(0x061F0000, thread_tp, silent),
                                plain_record(0x061F0000, thread_tp, tracing),
                            }));
}

TEST(Trace, ScopesWriteEntryExitAndNotesByTheirLevels) {
  int object = 0;
  auto const entered = [&](std::uint32_t kind) { return plain_record(kind, flush_tp, &object); };
  auto const left = [&](std::uint32_t kind) { return value_record(kind, flush_tp, &object, 0); };
  auto const note = [&](std::uint32_t kind, char const* text) {
    return text_record(kind, flush_tp, &object, text);
  };
  constexpr auto public_operation = wytr::depth::public_operation;
  constexpr auto inner_operation = wytr::depth::inner_operation;
  struct {
    std::uint32_t mask;
    wytr::depth depth;
    std::vector<captured_record> expected;
  } const cases[] = {
      {0x1000, public_operation, {entered(0x06200000), left(0x06210000)}},
      {0x2000, public_operation, {left(0x06210000)}},
      {0x3000, public_operation, {entered(0x06200000), left(0x06210000)}},
      {0x10000, inner_operation, {entered(0x062A0000), left(0x062B0000)}},
      {0x20000, inner_operation, {left(0x062B0000)}},
      {0x30000, public_operation, {}},
      {0x3000, inner_operation, {}},
      {0, public_operation, {}},
      {0x8 | 0x40000,
       inner_operation,
       {note(0x06040000, "send failed: 10054"), note(0x062C0000, "dead")}},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.mask);
    trace_capture capture(c.mask);
    try {
      wytr::operation_scope scope(flush_tp, c.depth, &object);
      scope.note(0x8, wytr::kind::error_text, "send failed: %lu", 10054UL);
      scope.note(0x4000, wytr::kind::resource, "not enabled");
      scope.note(0x40000, wytr::kind::state_note, "%s", "dead");
      // No exception is reported as current, so the normal exit kind is written with value 0.
      throw std::runtime_error("leave");
    } catch (std::runtime_error const&) {
    }
    EXPECT_EQ(capture.take(), c.expected);
  }

  trace_capture capture(0x1000);
  { wytr::operation_scope scope(flush_tp, public_operation, nullptr, "%ld, %d", -5L, 2); }
  EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                text_record(0x06200000, flush_tp, nullptr, "-5, 2"),
                                value_record(0x06210000, flush_tp, nullptr, 0),
                            }));
}

TEST(Trace, ExitFunctionAndTextRecordsWriteWhateverTheMask) {
  int object = 0;
  trace_capture capture(0);
  qmgl_trc_exit(0x141A0800, 0x21, 0x1000);
  qmgl_trc_exit(0x141A0800, 0x2B, 0x10000, &object);
  wytr::write_text(0x06040000, 0x14010100, nullptr, "%s", "");
  wytr::write_text(0x06040000, 0x14010100, nullptr, "%d-%s", 42, "x");
  // A text longer than the formatting buffer is cut to the buffer less its terminator.
  std::string const huge(70000, 'h');
  wytr::write_text(0x06040000, 0x14010100, nullptr, "%s", huge.c_str());
  EXPECT_EQ(capture.take(),
            (std::vector<captured_record>{
                value_record(0x06210000, 0x141A0800, nullptr, 0),
                value_record(0x062B0000, 0x141A0800, &object, 0),
                text_record(0x06040000, 0x14010100, nullptr, ""),
                text_record(0x06040000, 0x14010100, nullptr, "42-x"),
                text_record(0x06040000, 0x14010100, nullptr, std::string(65535, 'h')),
            }));
}

TEST(Trace, RecordsOfManyThreadsArriveWholeAndInOrder) {
  constexpr int threads = 8;
  constexpr int per_thread = 2000;
  trace_capture capture(0x8);
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t)
    writers.emplace_back([t] {
      for (int i = 0; i < per_thread; ++i)
        wytr::write_text(0x06040000, 0x14220700, nullptr, "writer %d record %06d end", t, i);
    });
  for (auto& w : writers)
    w.join();
  std::vector<int> next(threads, 0);
  for (auto const& r : capture.take()) {
    int t = -1;
    int i = -1;
    char tail[8] = {};
    ASSERT_EQ(std::sscanf(r.data.c_str(), "writer %d record %d %3s", &t, &i, tail), 3) << r.data;
    ASSERT_TRUE(std::string(tail) == "end" && t >= 0 && t < threads) << r.data;
    ASSERT_EQ(i, next[t]++) << "records of writer " << t << " out of order";
  }
  EXPECT_EQ(next, std::vector<int>(threads, per_thread));
}
