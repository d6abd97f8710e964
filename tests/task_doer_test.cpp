// The task doer: one worker thread running queued copies of messages in order.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
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

// Waits for what must happen end as soon as it does; those for what must not take quiet_ms.
constexpr long limit_ms = 20000, quiet_ms = 250;
constexpr std::uint32_t error_text = 0x06040000;

// Tracepoints: 1 constructor, 2 destructor, 3 add_task, 4 run, 5 suspend, 6 terminate, 7 worker.
constexpr std::uint32_t tp(unsigned n) {
  return 0x14220000 + (n << 8);
}

// What the messages of a test report: which ran, in which order, on which thread.
struct ledger {
  std::atomic<int> deleted{0};
  qmgl_sync_sema_private release;  // lets a blocking message end
  std::mutex lock;
  std::condition_variable changed;
  std::vector<int> order;
  std::vector<std::thread::id> threads;

  bool ran(std::size_t n, long ms = limit_ms) {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, std::chrono::milliseconds(ms), [&] { return order.size() >= n; });
  }
};

// A message that counts its deletions, its copies' included; its kind says what it does.
struct message : qmgl_task_message_base {
  enum kind { numbered, throwing, blocking, copy_throws, copy_is_null };
  ledger* book;
  int number;
  kind how;

  message(ledger& b, int n, kind k = numbered) : book(&b), number(n), how(k) {}
  ~message() override { ++book->deleted; }
  qmgl_task_message_base* clone() const override {
    if (how == copy_throws) throw std::bad_alloc();
    return how == copy_is_null ? nullptr : new message(*this);
  }
  void execute() override {
    {
      std::lock_guard<std::mutex> const hold(book->lock);
      book->order.push_back(number);
      book->threads.push_back(std::this_thread::get_id());
      book->changed.notify_all();
    }
    if (how == blocking) book->release.wait(limit_ms);
    if (how == throwing) throw std::runtime_error("the message fails");
  }
};

}  // namespace

TEST(TaskDoer, ManyProducersEachMessageOnceInEachProducersOrderOnTheWorker) {
  constexpr int producers = 4, per_producer = 10000;
  ledger book;
  {
    qmgl_task_doer doer;
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p)
      threads.emplace_back([&, p] {
        for (int i = 0; i < per_producer; ++i)
          doer.add_task(message(book, p * per_producer + i));
      });
    for (std::thread& t : threads)
      t.join();
    ASSERT_TRUE(book.ran(producers * per_producer));
  }
  std::vector<int> next(producers, 0);  // each producer's next number, in its own counting
  for (int number : book.order)
    ASSERT_EQ(number % per_producer, next[number / per_producer]++) << number;
  EXPECT_EQ(book.deleted, 2 * producers * per_producer) << "each original and its copy";
  EXPECT_EQ(std::count(book.threads.begin(), book.threads.end(), book.threads.front()), 40000);
}

// run and suspend hold the worker between messages; terminate lets a suspended worker go, and
// the message queued runs once, on the worker or in the destructor; then there is no worker.
TEST(TaskDoer, RunSuspendAndTerminateWithTheRecordsOfEachOperation) {
  trace_capture capture(0x8 | 0x1000 | 0x4000);
  ledger book;
  auto doer = std::make_unique<qmgl_task_doer>(4096, 0);
  std::uint64_t const object = object_word(doer.get());
  doer->add_task(message(book, 0, message::blocking));
  doer->add_task(message(book, 1));
  EXPECT_FALSE(book.ran(1, quiet_ms)) << "started suspended";
  EXPECT_EQ(doer->run(), 0);
  ASSERT_TRUE(book.ran(1));
  EXPECT_EQ(doer->suspend(), 0);
  book.release.post();  // the running message finishes; the next one waits
  doer->add_task(message(book, 2));
  EXPECT_FALSE(book.ran(2, quiet_ms));
  EXPECT_EQ(doer->run(), 0);
  EXPECT_EQ(doer->run(), 0) << "a worker that runs stays running";
  ASSERT_TRUE(book.ran(3));
  EXPECT_EQ(doer->suspend(), 0);
  doer->add_task(message(book, 3));
  // On a thread of its own, so that a hung terminate fails the test instead of holding it.
  record_watch terminated(0x06210000, tp(6));
  std::thread terminator([d = doer.get()] { EXPECT_EQ(d->terminate(), 0); });
  if (!terminated.seen_within(limit_ms)) {
    terminator.detach();
    doer.release();
    FAIL() << "terminate of a suspended worker did not return";
  }
  terminator.join();
  std::vector<captured_record> const records = capture.take();
  EXPECT_EQ(doer->terminate(), 0);
  EXPECT_EQ(doer->run(), 6);  // the system's "invalid handle"
  EXPECT_EQ(doer->suspend(), 6);
  EXPECT_EQ(doer->get_state(), qmgl_task_doer::terminated);
  std::vector<captured_record> const refused = capture.take();
  doer.reset();
  EXPECT_EQ(book.order, (std::vector<int>{0, 1, 2, 3}));

  // The start names the thread; terminate returns only after the worker has ended.
  std::vector<captured_record> const started =
      records_where(records, [](captured_record const& r) { return r.kind == 0x06220000; });
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0], text_record(0x06220000, tp(1), object, started[0].data));
  EXPECT_TRUE(std::regex_match(started[0].data, std::regex("Thread Started with ID:[1-9]\\d*\n")));
  std::vector<captured_record> exits;
  for (unsigned n : {1, 4, 5, 4, 4, 5, 7, 6})
    exits.push_back(value_record(0x06210000, tp(n), object, 0));
  EXPECT_EQ(records_where(records, [](captured_record const& r) { return r.kind == 0x06210000; }),
            exits);
  std::string const text = system_text(6);
  EXPECT_EQ(records_where(refused, [](captured_record const& r) { return r.kind == error_text; }),
            (std::vector<captured_record>{
                text_record(error_text, tp(4), object, "ERROR ResumeThread rc=6\n" + text),
                text_record(error_text, tp(5), object, "ERROR SuspendThread rc=6\n" + text),
            }));
}

// A throwing message ends the worker, and the rest of its batch is deleted unrun; what is added
// later runs in the destructor, on its thread, where a throwing message stops no other.
TEST(TaskDoer, FailuresOfCopiesAndMessages) {
  trace_capture capture(0x8);
  ledger book;
  auto doer = std::make_unique<qmgl_task_doer>(65536, 0);
  std::uint64_t const object = object_word(doer.get());
  for (message::kind how : {message::copy_throws, message::copy_is_null}) {
    raised const r = raise_of([&] { doer->add_task(message(book, -2, how)); });
    EXPECT_EQ(r.code, 0x20000004u);
    EXPECT_STREQ(r.file, "src/qmgl/qmgl_task_doer");
    EXPECT_EQ(r.message, "system error 536870916");
  }
  // Suspended, the worker takes all three as one batch once it is let go.
  doer->add_task(message(book, 0, message::throwing));
  doer->add_task(message(book, 1));
  doer->add_task(message(book, 2));
  record_watch worker_failed(error_text, tp(7));
  EXPECT_EQ(doer->run(), 0);
  ASSERT_TRUE(worker_failed.seen_within(limit_ms));
  EXPECT_EQ(book.deleted, 2 + 3 + 3) << "the refused, the originals and their copies";
  doer->add_task(message(book, 3));
  doer->add_task(message(book, 4, message::throwing));
  doer->add_task(message(book, 5));
  doer.reset();
  EXPECT_EQ(book.order, (std::vector<int>{0, 3, 4, 5}));
  EXPECT_NE(book.threads[0], std::this_thread::get_id());
  EXPECT_EQ(std::count(book.threads.begin(), book.threads.end(), std::this_thread::get_id()), 3);
  EXPECT_EQ(book.deleted, 2 + 12);
  std::string const caught = "In catch ERROR\n";
  std::string const left = "In destructor there 3 messags to be executed\n";
  EXPECT_EQ(capture.take(),
            (std::vector<captured_record>{text_record(error_text, tp(3), object, caught),
                                          text_record(error_text, tp(3), object, caught),
                                          text_record(error_text, tp(7), object, caught),
                                          text_record(error_text, tp(2), object, left),
                                          text_record(error_text, tp(2), object, caught)}));
}
