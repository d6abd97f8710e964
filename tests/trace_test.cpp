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

// The numbers the exported names of the six traced classes carry.
static_assert(wytr::kind_word(wytr::kind::constructed) == 102629376u);
static_assert(wytr::level::lifetime == 2048u);
static_assert(wytr::tp::exc_lifetime == 335609856u);
static_assert(wytr::tp::thread_lifetime == 335675392u);
static_assert(wytr::tp::socket_lifetime == 336396288u);
static_assert(wytr::tp::socket_factory_lifetime == 336461824u);
static_assert(wytr::tp::file_lifetime == 337248256u);
static_assert(wytr::tp::output_file_lifetime == 337379328u);
static_assert(wytr::tp::socket_read == 0x140D0D00u);
static_assert(wytr::kind_word(wytr::kind::public_entered) == 0x06200000u);

constexpr std::uint32_t thread_tp = 0x14020000;

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
  std::uint64_t address = 0;
  {
    traced t;
    address = object_word(&t);
  }
  EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                plain_record(0x061E0000, thread_tp, address),
                                plain_record(0x061F0000, thread_tp, address),
                            }));
}

TEST(Trace, SilentFormWritesOnlyTheDestruction) {
  trace_capture capture(0x800);
  std::uint64_t address = 0;
  {
    traced t(0);
    address = object_word(&t);
  }
  EXPECT_EQ(capture.take(),
            std::vector<captured_record>{plain_record(0x061F0000, thread_tp, address)});
}

TEST(Trace, CopyAssignmentWritesNothing) {
  traced a;
  traced b;
  trace_capture capture(~0u);
  a = b;
  EXPECT_TRUE(capture.take().empty());
}

TEST(Trace, MaskZeroWritesNothingAtAll) {
  trace_capture capture(0);
  {
    traced t;
    wytr::operation_scope scope(wytr::tp::file_flush, wytr::depth::public_operation, &t, "%p",
                                static_cast<void*>(&t));
    scope.note(0x8, wytr::kind::error_text, "error %d", 5);
  }
  EXPECT_TRUE(capture.take().empty());
}

TEST(Trace, PublicScopeWritesEntryAndExit) {
  int object = 0;
  trace_capture capture(0x1000);
  { wytr::operation_scope scope(wytr::tp::file_flush, wytr::depth::public_operation, &object); }
  {
    wytr::operation_scope scope(wytr::tp::file_seek, wytr::depth::public_operation, &object,
                                "%ld, %d", -5L, 2);
  }
  EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                plain_record(0x06200000, 0x141A0600, &object),
                                value_record(0x06210000, 0x141A0600, &object, 0),
                                text_record(0x06200000, 0x141A0B00, &object, "-5, 2"),
                                value_record(0x06210000, 0x141A0B00, &object, 0),
                            }));
}

TEST(Trace, ExitLevelAloneWritesTheExitRecord) {
  {
    trace_capture capture(0x2000);
    { wytr::operation_scope scope(wytr::tp::file_flush, wytr::depth::public_operation); }
    EXPECT_EQ(capture.take(),
              std::vector<captured_record>{value_record(0x06210000, 0x141A0600, nullptr, 0)});
  }
  {
    trace_capture capture(0x20000);
    { wytr::operation_scope scope(wytr::tp::task_doer_worker, wytr::depth::inner_operation); }
    EXPECT_EQ(capture.take(),
              std::vector<captured_record>{value_record(0x062B0000, 0x14220700, nullptr, 0)});
  }
  {
    // The inner levels do not open public scopes.
    trace_capture capture(0x30000);
    { wytr::operation_scope scope(wytr::tp::file_flush, wytr::depth::public_operation); }
    EXPECT_TRUE(capture.take().empty());
  }
  {
    // Nor the public levels inner ones.
    trace_capture capture(0x3000);
    { wytr::operation_scope scope(wytr::tp::task_doer_worker, wytr::depth::inner_operation); }
    EXPECT_TRUE(capture.take().empty());
  }
}

TEST(Trace, InnerScopeWritesItsOwnKinds) {
  trace_capture capture(0x10000);
  { wytr::operation_scope scope(wytr::tp::timer_thread_body, wytr::depth::inner_operation); }
  EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                plain_record(0x062A0000, 0x14230700, nullptr),
                                value_record(0x062B0000, 0x14230700, nullptr, 0),
                            }));
}

TEST(Trace, ScopeLeftByAnExceptionStillWritesItsExit) {
  int object = 0;
  trace_capture capture(0x3000);
  try {
    wytr::operation_scope scope(wytr::tp::socket_read, wytr::depth::public_operation, &object);
    throw std::runtime_error("leave");
  } catch (std::runtime_error const&) {
  }
  // No exception is reported as current, so the normal exit kind is written with value 0.
  EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                plain_record(0x06200000, 0x140D0D00, &object),
                                value_record(0x06210000, 0x140D0D00, &object, 0),
                            }));
}

TEST(Trace, NotesUseTheScopesTracepointAndObjectWithTheirOwnKind) {
  int object = 0;
  trace_capture capture(0x8 | 0x40000);
  wytr::operation_scope scope(wytr::tp::socket_write, wytr::depth::public_operation, &object);
  scope.note(0x8, wytr::kind::error_text, "send failed: %lu", 10054UL);
  scope.note(0x4000, wytr::kind::resource, "not enabled");
  scope.note(0x40000, wytr::kind::state_note, "%s", "dead");
  EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                text_record(0x06040000, 0x140D0E00, &object, "send failed: 10054"),
                                text_record(0x062C0000, 0x140D0E00, &object, "dead"),
                            }));
}

TEST(Trace, ExitFunctionWritesWhateverTheMask) {
  int object = 0;
  trace_capture capture(0);
  qmgl_trc_exit(0x141A0800, 0x21, 0x1000);
  qmgl_trc_exit(0x141A0800, 0x2B, 0x10000, &object);
  EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                value_record(0x06210000, 0x141A0800, nullptr, 0),
                                value_record(0x062B0000, 0x141A0800, &object, 0),
                            }));
}

TEST(Trace, TextRecordsCarryTheirLengthWithoutTerminator) {
  trace_capture capture(0);
  wytr::write_text(0x06040000, 0x14010100, nullptr, "%s", "");
  wytr::write_text(0x06040000, 0x14010100, nullptr, "%d-%s", 42, "x");
  // A text longer than the formatting buffer is cut to the buffer less its terminator.
  std::string const huge(70000, 'h');
  wytr::write_text(0x06040000, 0x14010100, nullptr, "%s", huge.c_str());
  auto const records = capture.take();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].data, "");
  EXPECT_EQ(records[1].data, "42-x");
  EXPECT_EQ(records[2].data, std::string(65535, 'h'));
}

TEST(Trace, RecordsOfManyThreadsArriveWholeAndInOrder) {
  constexpr int threads = 8;
  constexpr int per_thread = 2000;
  trace_capture capture(0x8);
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t) {
    writers.emplace_back([t] {
      for (int i = 0; i < per_thread; ++i)
        wytr::write_text(0x06040000, 0x14220700, nullptr, "writer %d record %06d end", t, i);
    });
  }
  for (auto& w : writers)
    w.join();
  std::vector<int> next(threads, 0);
  int total = 0;
  for (auto const& r : capture.take()) {
    int t = -1;
    int i = -1;
    char tail[8] = {};
    ASSERT_EQ(std::sscanf(r.data.c_str(), "writer %d record %d %3s", &t, &i, tail), 3) << r.data;
    ASSERT_STREQ(tail, "end");
    ASSERT_TRUE(t >= 0 && t < threads);
    ASSERT_EQ(i, next[t]) << "records of writer " << t << " out of order";
    ++next[t];
    ++total;
  }
  EXPECT_EQ(total, threads * per_thread);
}
