// The task doer: one worker thread running queued copies of messages in order.

#include <algorithm>
#include <atomic>
#include <cstdint>
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
#include <wygl/qmgl_task_doer.h>

#include "support/raised.h"
#include "support/record_watch.h"
#include "support/trace_capture.h"

namespace {

constexpr long limit_ms = 20000;  // for waits that end as soon as the other side acts
constexpr long quiet_ms = 250;    // for watching for something that must not happen

constexpr std::uint32_t error_text = 0x06040000;
constexpr std::uint32_t tp_destructor = 0x14220200;
constexpr std::uint32_t tp_worker = 0x14220700;
constexpr char caught[] = "In catch ERROR\n";

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

// A message that counts its copies: it runs as numbered, throws after running, or runs only
// once the test releases it.
struct message : qmgl_task_message_base {
  enum kind { numbered, throwing, blocking };
  ledger* book;
  int number;
  kind how;
  bool is_clone = false;

  message(ledger& b, int n, kind k = numbered) : book(&b), number(n), how(k) {}
  ~message() override {
    if (is_clone) ++book->deleted;
  }
  qmgl_task_message_base* clone() const override {
    ++book->clones;
    auto* const copy = new message(*this);
    copy->is_clone = true;
    return copy;
  }
  void execute() override {
    if (how == blocking) book->started.post();
    if (how == blocking) book->release.wait(limit_ms);
    if (!is_clone) ++book->originals_executed;
    book->record(number);
    if (how == throwing) throw std::runtime_error("the message fails");
  }
};

// clone fails by throwing, or by giving nothing.
struct uncopyable : qmgl_task_message_base {
  bool throws;
  explicit uncopyable(bool t) : throws(t) {}
  void execute() override {}
  qmgl_task_message_base* clone() const override {
    if (throws) throw std::bad_alloc();
    return nullptr;
  }
};

bool all_on(std::vector<std::thread::id> const& threads, std::thread::id id) {
  return std::all_of(threads.begin(), threads.end(), [id](std::thread::id t) { return t == id; });
}

// The records of tracepoint tp among records, in their order.
std::vector<captured_record> at(std::vector<captured_record> const& records, std::uint32_t tp) {
  return records_where(records, [tp](captured_record const& r) { return r.tracepoint == tp; });
}

}  // namespace

TEST(TaskDoer, ManyProducersEachMessageOnceInEachProducersOrderOnTheWorker) {
  constexpr int producers = 4;
  constexpr int per_producer = 10000;
  ledger book;
  book.expected = producers * per_producer;
  {
    qmgl_task_doer doer;
    EXPECT_EQ(doer.get_state(), qmgl_task_doer::running);
    qmgl_sync_sema_private go;
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p)
      threads.emplace_back([&, p] {
        go.wait(limit_ms);
        for (int i = 0; i < per_producer; ++i) {
          message original(book, p * per_producer + i);
          doer.add_task(original);
          original.number = -1;  // the copy is queued already; the original is not used again
        }
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
  EXPECT_EQ(book.originals_executed, 0);
  EXPECT_NE(book.threads.front(), std::this_thread::get_id());
  EXPECT_TRUE(all_on(book.threads, book.threads.front()));
}

TEST(TaskDoer, RunAndSuspendHoldTheWorkerBetweenMessages) {
  ledger book;
  book.expected = 3;
  qmgl_task_doer doer(65536, 0);
  EXPECT_EQ(doer.get_state(), qmgl_task_doer::suspended);
  doer.add_task(message(book, 0, message::blocking));
  doer.add_task(message(book, 1));
  EXPECT_EQ(book.started.wait(quiet_ms), qmgl_wait_timeout) << "started suspended";

  EXPECT_EQ(doer.run(), 0);
  EXPECT_EQ(doer.get_state(), qmgl_task_doer::running);
  ASSERT_EQ(book.started.wait(limit_ms), qmgl_wait_no_error);
  EXPECT_EQ(doer.suspend(), 0);
  EXPECT_EQ(doer.get_state(), qmgl_task_doer::suspended);
  book.release.post();  // the running message finishes; the next one waits
  doer.add_task(message(book, 2));
  EXPECT_EQ(book.all_done.wait(quiet_ms), qmgl_wait_timeout);
  EXPECT_EQ(book.order_seen(), (std::vector<int>{0}));

  EXPECT_EQ(doer.run(), 0);
  EXPECT_EQ(doer.run(), 0) << "a worker that runs stays running";
  EXPECT_EQ(doer.get_state(), qmgl_task_doer::running);
  ASSERT_EQ(book.all_done.wait(limit_ms), qmgl_wait_no_error);
  EXPECT_EQ(book.order_seen(), (std::vector<int>{0, 1, 2}));
}

// terminate lets a suspended worker go: the queued message runs once, on the worker if it had
// been woken for it before terminate told it to stop, otherwise in the destructor.
TEST(TaskDoer, TerminateOfASuspendedWorkerAndTheRecordsOfEachOperation) {
  trace_capture capture(0x1000 | 0x4000);
  ledger book;
  auto doer = std::make_unique<qmgl_task_doer>(4096, 0);
  std::uint64_t const object = object_word(doer.get());
  EXPECT_EQ(doer->run(), 0);
  EXPECT_EQ(doer->suspend(), 0);
  doer->add_task(message(book, 0));
  // terminate runs on a thread of its own, so that a hung one fails the test instead of
  // holding it; that thread is then left to itself, and so is the task doer.
  auto result = std::make_shared<std::atomic<int>>(-1);
  auto done = std::make_shared<qmgl_sync_sema_private>();
  std::thread terminator([d = doer.get(), result, done] {
    *result = d->terminate();
    done->post();
  });
  if (done->wait(limit_ms) != qmgl_wait_no_error) {
    terminator.detach();
    doer.release();
    FAIL() << "terminate of a suspended worker did not return";
  }
  terminator.join();
  EXPECT_EQ(*result, 0);
  EXPECT_EQ(doer->get_state(), qmgl_task_doer::terminated);
  doer.reset();
  EXPECT_EQ(book.order, (std::vector<int>{0}));
  EXPECT_EQ(book.deleted, 1);

  std::vector<captured_record> const records = capture.take();
  // Per tracepoint, constructor 0x14220100 to worker 0x14220700 but add_task: the entry,
  // the constructor's start of the thread, the exit.
  for (std::uint32_t tp = 0x14220100; tp <= tp_worker; tp += 0x100) {
    if (tp == 0x14220300) continue;
    std::vector<captured_record> const seen = at(records, tp);
    ASSERT_EQ(seen.size(), tp == 0x14220100 ? 3u : 2u) << std::hex << tp;
    EXPECT_EQ(seen.front(), plain_record(0x06200000, tp, object)) << std::hex << tp;
    EXPECT_EQ(seen.back(), value_record(0x06210000, tp, object, 0)) << std::hex << tp;
  }
  captured_record const started = at(records, 0x14220100)[1];
  EXPECT_EQ(started, text_record(0x06220000, 0x14220100, object, started.data));
  EXPECT_TRUE(std::regex_match(started.data, std::regex("Thread Started with ID:[1-9][0-9]*\n")))
      << started.data;
  // terminate returns only after the worker has ended.
  auto const position = [&](std::uint32_t tp) {
    return std::find(records.begin(), records.end(), value_record(0x06210000, tp, object, 0)) -
           records.begin();
  };
  EXPECT_LT(position(tp_worker), position(0x14220600));
}

TEST(TaskDoer, AfterTerminateThereIsNoWorkerToResumeOrSuspend) {
  trace_capture capture(0x8);
  qmgl_task_doer doer;
  EXPECT_EQ(doer.terminate(), 0);
  EXPECT_EQ(doer.terminate(), 0);
  EXPECT_EQ(doer.run(), 6);  // the system's "invalid handle"
  EXPECT_EQ(doer.suspend(), 6);
  EXPECT_EQ(doer.get_state(), qmgl_task_doer::terminated);
  std::string const text = system_text(6);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(capture.take(),
            (std::vector<captured_record>{
                text_record(error_text, 0x14220400, &doer, "ERROR ResumeThread rc=6\n" + text),
                text_record(error_text, 0x14220500, &doer, "ERROR SuspendThread rc=6\n" + text),
            }));
}

// A throwing message ends the worker; what is added later runs in the destructor, on the
// destroying thread, and a throwing message there does not stop the others.
TEST(TaskDoer, ThrowingMessageEndsTheWorkerAndLaterOnesRunInTheDestructor) {
  trace_capture capture(0x8);
  ledger book;
  std::uint64_t object = 0;
  {
    record_watch worker_failed(error_text, tp_worker);
    qmgl_task_doer doer;
    object = object_word(&doer);
    doer.add_task(message(book, 0, message::throwing));
    ASSERT_TRUE(worker_failed.seen_within(limit_ms));
    EXPECT_EQ(doer.get_state(), qmgl_task_doer::running);  // as the controller last made it
    doer.add_task(message(book, 1));
    doer.add_task(message(book, 2, message::throwing));
    doer.add_task(message(book, 3));
    EXPECT_EQ(book.executed, 1);
  }
  EXPECT_EQ(book.order, (std::vector<int>{0, 1, 2, 3}));
  ASSERT_EQ(book.threads.size(), 4u);
  EXPECT_NE(book.threads[0], std::this_thread::get_id());
  EXPECT_TRUE(all_on({book.threads.begin() + 1, book.threads.end()}, std::this_thread::get_id()));
  EXPECT_EQ(book.clones, 4);
  EXPECT_EQ(book.deleted, 4);
  EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                text_record(error_text, tp_worker, object, caught),
                                text_record(error_text, tp_destructor, object,
                                            "In destructor there 3 messags to be executed\n"),
                                text_record(error_text, tp_destructor, object, caught),
                            }));
}

// The rest of a batch cut short by a throwing message is deleted without running.
TEST(TaskDoer, RestOfAFailedBatchIsDeletedUnrun) {
  trace_capture capture(0x8);
  ledger book;
  {
    qmgl_task_doer doer(65536, 0);
    // Suspended, the worker takes all three as one batch once it is let go.
    doer.add_task(message(book, 0, message::throwing));
    doer.add_task(message(book, 1));
    doer.add_task(message(book, 2));
    record_watch worker_failed(error_text, tp_worker);
    EXPECT_EQ(doer.run(), 0);
    ASSERT_TRUE(worker_failed.seen_within(limit_ms));
    EXPECT_EQ(book.deleted, 3);
  }
  EXPECT_EQ(book.order, (std::vector<int>{0}));
  EXPECT_EQ(book.clones, 3);
  std::vector<captured_record> const records = capture.take();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].data, caught);
}

TEST(TaskDoer, FailedCopyRaisesAndQueuesNothing) {
  trace_capture capture(0x8);
  std::uint64_t object = 0;
  {
    qmgl_task_doer doer;
    object = object_word(&doer);
    for (bool throws : {true, false}) {
      raised const r = raise_of([&] { doer.add_task(uncopyable(throws)); });
      EXPECT_EQ(r.code, 0x20000004u);
      EXPECT_STREQ(r.file, "src/qmgl/qmgl_task_doer");
      EXPECT_EQ(r.message, "system error 536870916");
    }
  }
  // Nothing was queued: the destructor finds nothing to run.
  EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                text_record(error_text, 0x14220300, object, caught),
                                text_record(error_text, 0x14220300, object, caught),
                            }));
}
