// The task doer: one worker thread running queued copies of messages in order.

#include <algorithm>
#include <atomic>
#include <cstdint>
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
#include <wygl/qmgl_task_doer.h>

#include "support/raised.h"
#include "support/record_watch.h"
#include "support/trace_capture.h"

namespace {

constexpr long limit_ms = 20000;  // for waits that end as soon as the other side acts
// How long a test watches for something that must not happen.
constexpr long quiet_ms = 250;

constexpr std::uint32_t entered = 0x06200000;
constexpr std::uint32_t left = 0x06210000;
constexpr std::uint32_t error_text = 0x06040000;
constexpr std::uint32_t resource = 0x06220000;

constexpr std::uint32_t tp_constructor = 0x14220100;
constexpr std::uint32_t tp_destructor = 0x14220200;
constexpr std::uint32_t tp_add_task = 0x14220300;
constexpr std::uint32_t tp_run = 0x14220400;
constexpr std::uint32_t tp_suspend = 0x14220500;
constexpr std::uint32_t tp_terminate = 0x14220600;
constexpr std::uint32_t tp_worker = 0x14220700;

constexpr std::uint32_t error_invalid_handle = 6;

// What the messages of one test report: which ran, in which order, on which thread, and how
// many copies were made and deleted.
struct ledger {
  std::atomic<int> clones{0};
  std::atomic<int> deleted{0};
  std::atomic<int> originals_executed{0};
  std::atomic<int> executed{0};
  int expected = 0;  // all_done is posted when this many have run
  qmgl_sync_sema_private all_done;
  qmgl_sync_sema_private started;  // posted by a blocking message when it starts
  qmgl_sync_sema_private release;  // lets a blocking message end
  std::mutex lock;
  std::vector<int> order;
  std::vector<std::thread::id> threads;

  void record(int number) {
    {
      std::lock_guard<std::mutex> const hold(lock);
      order.push_back(number);
      threads.push_back(std::this_thread::get_id());
    }
    if (++executed == expected) all_done.post();
  }

  std::vector<int> order_seen() {
    std::lock_guard<std::mutex> const hold(lock);
    return order;
  }
};

// A message that counts its copies; Derived supplies execute.
template <class Derived>
struct counted : qmgl_task_message_base {
  ledger* book;
  int number;
  bool is_clone = false;

  counted(ledger& b, int n) : book(&b), number(n) {}
  counted(counted const& other)
      : qmgl_task_message_base(other), book(other.book), number(other.number), is_clone(true) {
    ++book->clones;
  }
  ~counted() override {
    if (is_clone) ++book->deleted;
  }
  qmgl_task_message_base* clone() const override {
    return new Derived(static_cast<Derived const&>(*this));
  }
  void note_run() {
    if (!is_clone) ++book->originals_executed;
    book->record(number);
  }
};

struct numbered : counted<numbered> {
  using counted::counted;
  void execute() override { note_run(); }
};

struct throwing : counted<throwing> {
  using counted::counted;
  void execute() override {
    note_run();
    throw std::runtime_error("the message fails");
  }
};

// Runs until the test releases it.
struct blocking : counted<blocking> {
  using counted::counted;
  void execute() override {
    book->started.post();
    book->release.wait(limit_ms);
    note_run();
  }
};

struct clone_fails : qmgl_task_message_base {
  void execute() override {}
  qmgl_task_message_base* clone() const override { throw std::bad_alloc(); }
};

struct clone_gives_nothing : qmgl_task_message_base {
  void execute() override {}
  qmgl_task_message_base* clone() const override { return nullptr; }
};

bool all_on(std::vector<std::thread::id> const& threads, std::thread::id id) {
  return std::all_of(threads.begin(), threads.end(), [id](std::thread::id t) { return t == id; });
}

// The records of tracepoint tp among records, in their order.
std::vector<captured_record> at(std::vector<captured_record> const& records, std::uint32_t tp) {
  return records_where(records, [tp](captured_record const& r) { return r.tracepoint == tp; });
}

// Runs call on a thread of its own and tells whether it returned within limit_ms. When it
// did not, the thread is left to itself, and so must be whatever it uses.
template <class Call>
bool returns_in_time(Call call) {
  auto done = std::make_shared<qmgl_sync_sema_private>();
  std::thread worker([done, call] {
    call();
    done->post();
  });
  bool const in_time = done->wait(limit_ms) == qmgl_wait_no_error;
  if (in_time)
    worker.join();
  else
    worker.detach();
  return in_time;
}

}  // namespace

TEST(TaskDoer, RunsCopiesInOrderOnItsWorker) {
  ledger book;
  book.expected = 100;
  {
    qmgl_task_doer doer;
    EXPECT_EQ(doer.get_state(), qmgl_task_doer::running);
    for (int i = 0; i < 100; ++i) {
      numbered message(book, i);
      doer.add_task(message);
      message.number = -1;  // the copy is queued already; the original is not used again
    }
    ASSERT_EQ(book.all_done.wait(limit_ms), qmgl_wait_no_error);
    EXPECT_EQ(book.clones, 100);
  }
  std::vector<int> expected(100);
  for (int i = 0; i < 100; ++i)
    expected[i] = i;
  EXPECT_EQ(book.order, expected);
  EXPECT_EQ(book.originals_executed, 0);
  ASSERT_FALSE(book.threads.empty());
  EXPECT_NE(book.threads.front(), std::this_thread::get_id());
  EXPECT_TRUE(all_on(book.threads, book.threads.front()));
  EXPECT_EQ(book.deleted, 100);
}

TEST(TaskDoer, ManyProducersEachMessageOnceInEachProducersOrder) {
  constexpr int producers = 4;
  constexpr int per_producer = 10000;
  ledger book;
  book.expected = producers * per_producer;
  {
    qmgl_task_doer doer;
    qmgl_sync_sema_private go;
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p)
      threads.emplace_back([&, p] {
        go.wait(limit_ms);
        for (int i = 0; i < per_producer; ++i)
          doer.add_task(numbered(book, p * per_producer + i));
      });
    go.post();
    for (std::thread& t : threads)
      t.join();
    ASSERT_EQ(book.all_done.wait(limit_ms), qmgl_wait_no_error);
  }
  ASSERT_EQ(book.order.size(), static_cast<std::size_t>(producers * per_producer));
  std::vector<int> next(producers, 0);  // each producer's next number, in its own counting
  for (int number : book.order) {
    int const p = number / per_producer;
    EXPECT_EQ(number % per_producer, next[p]) << "producer " << p;
    next[p] = number % per_producer + 1;
  }
  EXPECT_EQ(next, std::vector<int>(producers, per_producer));
  EXPECT_EQ(book.clones, producers * per_producer);
  EXPECT_EQ(book.deleted, producers * per_producer);
}

TEST(TaskDoer, StartedSuspendedRunsNothingUntilRun) {
  ledger book;
  book.expected = 3;
  qmgl_task_doer doer(65536, 0);
  EXPECT_EQ(doer.get_state(), qmgl_task_doer::suspended);
  for (int i = 0; i < 3; ++i)
    doer.add_task(numbered(book, i));
  EXPECT_EQ(book.all_done.wait(quiet_ms), qmgl_wait_timeout);
  EXPECT_EQ(book.executed, 0);

  EXPECT_EQ(doer.run(), 0);
  EXPECT_EQ(doer.get_state(), qmgl_task_doer::running);
  ASSERT_EQ(book.all_done.wait(limit_ms), qmgl_wait_no_error);
  EXPECT_EQ(book.order_seen(), (std::vector<int>{0, 1, 2}));
}

TEST(TaskDoer, SuspendHoldsTheWorkerBetweenMessages) {
  ledger book;
  book.expected = 2;
  qmgl_task_doer doer;
  EXPECT_EQ(doer.run(), 0);  // a worker that runs stays running
  EXPECT_EQ(doer.get_state(), qmgl_task_doer::running);

  doer.add_task(blocking(book, 0));
  doer.add_task(numbered(book, 1));
  ASSERT_EQ(book.started.wait(limit_ms), qmgl_wait_no_error);
  EXPECT_EQ(doer.suspend(), 0);
  EXPECT_EQ(doer.get_state(), qmgl_task_doer::suspended);
  book.release.post();  // the running message finishes; the next one waits
  EXPECT_EQ(book.all_done.wait(quiet_ms), qmgl_wait_timeout);
  EXPECT_EQ(book.order_seen(), (std::vector<int>{0}));

  EXPECT_EQ(doer.run(), 0);
  ASSERT_EQ(book.all_done.wait(limit_ms), qmgl_wait_no_error);
  EXPECT_EQ(book.order_seen(), (std::vector<int>{0, 1}));
}

TEST(TaskDoer, TerminateLetsASuspendedWorkerGo) {
  ledger book;
  auto doer = std::make_unique<qmgl_task_doer>(65536, 0);
  doer->add_task(numbered(book, 0));
  auto result = std::make_shared<std::atomic<int>>(-1);
  qmgl_task_doer* const d = doer.get();
  bool const in_time = returns_in_time([d, result] { *result = d->terminate(); });
  if (!in_time) {
    doer.release();  // still in use by the hung call
    FAIL() << "terminate of a suspended worker did not return";
  }
  EXPECT_EQ(*result, 0);
  EXPECT_EQ(doer->get_state(), qmgl_task_doer::terminated);
  doer.reset();
  // Let go, the worker ran the message if it had been woken for it before terminate told it
  // to stop; otherwise the destructor did. Either way once, and its copy is gone.
  EXPECT_EQ(book.order, (std::vector<int>{0}));
  EXPECT_EQ(book.deleted, 1);
}

TEST(TaskDoer, LifecycleRecords) {
  trace_capture capture(0x1000 | 0x4000);
  std::uint64_t object = 0;
  {
    qmgl_task_doer doer(4096, 0);
    object = object_word(&doer);
    EXPECT_EQ(doer.run(), 0);
    EXPECT_EQ(doer.suspend(), 0);
    EXPECT_EQ(doer.terminate(), 0);
  }
  std::vector<captured_record> const records = capture.take();

  std::vector<captured_record> const built = at(records, tp_constructor);
  ASSERT_EQ(built.size(), 3u);
  std::string const started = built[1].data;
  std::string const prefix = "Thread Started with ID:";
  ASSERT_EQ(started.rfind(prefix, 0), 0u) << started;
  ASSERT_EQ(started.back(), '\n');
  std::string const id = started.substr(prefix.size(), started.size() - prefix.size() - 1);
  EXPECT_FALSE(id.empty());
  EXPECT_EQ(id.find_first_not_of("0123456789"), std::string::npos) << id;
  EXPECT_NE(std::stoul(id), 0u);
  EXPECT_EQ(built, (std::vector<captured_record>{
                       plain_record(entered, tp_constructor, object),
                       text_record(resource, tp_constructor, object, started),
                       value_record(left, tp_constructor, object, 0),
                   }));
  for (std::uint32_t tp : {tp_run, tp_suspend, tp_terminate, tp_destructor, tp_worker})
    EXPECT_EQ(at(records, tp), (std::vector<captured_record>{plain_record(entered, tp, object),
                                                             value_record(left, tp, object, 0)}))
        << std::hex << tp;
  // terminate returns only after the worker has ended.
  auto const position = [&](captured_record const& r) {
    return std::find(records.begin(), records.end(), r) - records.begin();
  };
  EXPECT_LT(position(value_record(left, tp_worker, object, 0)),
            position(value_record(left, tp_terminate, object, 0)));
}

TEST(TaskDoer, AfterTerminateThereIsNoWorkerToResumeOrSuspend) {
  trace_capture capture(0x8);
  qmgl_task_doer doer;
  EXPECT_EQ(doer.terminate(), 0);
  EXPECT_EQ(doer.get_state(), qmgl_task_doer::terminated);
  EXPECT_EQ(doer.terminate(), 0);
  EXPECT_EQ(doer.run(), static_cast<int>(error_invalid_handle));
  EXPECT_EQ(doer.suspend(), static_cast<int>(error_invalid_handle));
  EXPECT_EQ(doer.get_state(), qmgl_task_doer::terminated);
  std::string const text = system_text(error_invalid_handle);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(capture.take(),
            (std::vector<captured_record>{
                text_record(error_text, tp_run, &doer, "ERROR ResumeThread rc=6\n" + text),
                text_record(error_text, tp_suspend, &doer, "ERROR SuspendThread rc=6\n" + text),
            }));
}

TEST(TaskDoer, ThrowingMessageEndsTheWorkerAndLaterOnesRunInTheDestructor) {
  trace_capture capture(0x8);
  ledger book;
  std::uint64_t object = 0;
  {
    record_watch worker_failed(error_text, tp_worker);
    qmgl_task_doer doer;
    object = object_word(&doer);
    doer.add_task(throwing(book, 0));
    ASSERT_TRUE(worker_failed.seen_within(limit_ms));
    EXPECT_EQ(doer.get_state(), qmgl_task_doer::running);  // as the controller last made it
    doer.add_task(numbered(book, 1));
    doer.add_task(numbered(book, 2));
    EXPECT_EQ(book.executed, 1);
  }
  EXPECT_EQ(book.order, (std::vector<int>{0, 1, 2}));
  ASSERT_EQ(book.threads.size(), 3u);
  EXPECT_NE(book.threads[0], std::this_thread::get_id());
  EXPECT_EQ(book.threads[1], std::this_thread::get_id());
  EXPECT_EQ(book.threads[2], std::this_thread::get_id());
  EXPECT_EQ(book.clones, 3);
  EXPECT_EQ(book.deleted, 3);
  EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                text_record(error_text, tp_worker, object, "In catch ERROR\n"),
                                text_record(error_text, tp_destructor, object,
                                            "In destructor there 2 messags to be executed\n"),
                            }));
}

// The rest of a batch cut short by a throwing message is deleted without running.
TEST(TaskDoer, RestOfAFailedBatchIsDeletedUnrun) {
  trace_capture capture(0x8);
  ledger book;
  {
    qmgl_task_doer doer(65536, 0);
    // Suspended, the worker takes all three as one batch once it is let go.
    doer.add_task(throwing(book, 0));
    doer.add_task(numbered(book, 1));
    doer.add_task(numbered(book, 2));
    record_watch worker_failed(error_text, tp_worker);
    EXPECT_EQ(doer.run(), 0);
    ASSERT_TRUE(worker_failed.seen_within(limit_ms));
    EXPECT_EQ(book.deleted, 3);
  }
  EXPECT_EQ(book.order, (std::vector<int>{0}));
  EXPECT_EQ(book.clones, 3);
  EXPECT_EQ(book.deleted, 3);
  std::vector<captured_record> const records = capture.take();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].data, "In catch ERROR\n");
}

TEST(TaskDoer, DestructorGoesOnAfterAThrowingMessage) {
  trace_capture capture(0x8);
  ledger book;
  std::uint64_t object = 0;
  {
    qmgl_task_doer doer;
    object = object_word(&doer);
    EXPECT_EQ(doer.terminate(), 0);
    doer.add_task(throwing(book, 0));
    doer.add_task(numbered(book, 1));
  }
  EXPECT_EQ(book.order, (std::vector<int>{0, 1}));
  EXPECT_TRUE(all_on(book.threads, std::this_thread::get_id()));
  EXPECT_EQ(book.deleted, 2);
  EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                text_record(error_text, tp_destructor, object,
                                            "In destructor there 2 messags to be executed\n"),
                                text_record(error_text, tp_destructor, object, "In catch ERROR\n"),
                            }));
}

TEST(TaskDoer, FailedCopyRaisesAndQueuesNothing) {
  trace_capture capture(0x8);
  std::uint64_t object = 0;
  {
    qmgl_task_doer doer;
    object = object_word(&doer);
    for (raised const& r : {raise_of([&] { doer.add_task(clone_fails()); }),
                            raise_of([&] { doer.add_task(clone_gives_nothing()); })}) {
      EXPECT_TRUE(r.thrown);
      EXPECT_EQ(r.type, std::type_index(typeid(exc_unmapped_t)));
      EXPECT_EQ(r.code, 0x20000004u);
      EXPECT_STREQ(r.file, "src/qmgl/qmgl_task_doer");
      EXPECT_EQ(r.message, "system error 536870916");
    }
  }
  EXPECT_TRUE(error_string(0x20000004).empty());
  // Nothing was queued: the destructor finds nothing to run.
  EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                text_record(error_text, tp_add_task, object, "In catch ERROR\n"),
                                text_record(error_text, tp_add_task, object, "In catch ERROR\n"),
                            }));
}
