// The task doer against a plain worker: a std::thread with a std::mutex and
// std::condition_variable queue, given the same messages (one heap copy each, run and deleted on
// the worker).
//
//   Throughput: messages per second from 1 and from 2 producer threads, trivial messages.
//   Latency: from add_task to execute on an idle worker, and back to the producer.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <wygl/qmgl_task_doer.h>

namespace {

constexpr int messages_per_round = 20000;

// Counts down; the message that brings the count to 0 releases the producer.
struct round_counter {
  std::atomic<int> left{0};
  std::binary_semaphore done{0};
};

struct trivial_message : qmgl_task_message_base {
  explicit trivial_message(round_counter& c) : counter(&c) {}
  void execute() override {
    if (counter->left.fetch_sub(1, std::memory_order_acq_rel) == 1) counter->done.release();
  }
  qmgl_task_message_base* clone() const override { return new trivial_message(*this); }
  round_counter* counter;
};

// The plain worker: one message popped under the lock at a time, notified per message.
class plain_worker {
 public:
  plain_worker() : _thread([this] { work(); }) {}
  ~plain_worker() {
    {
      std::lock_guard<std::mutex> const hold(_lock);
      _stopping = true;
    }
    _changed.notify_one();
    _thread.join();
  }
  plain_worker(plain_worker const&) = delete;
  plain_worker& operator=(plain_worker const&) = delete;

  void add_task(qmgl_task_message_base const& message) {
    std::unique_ptr<qmgl_task_message_base> copy(message.clone());
    {
      std::lock_guard<std::mutex> const hold(_lock);
      _queue.push_back(std::move(copy));
    }
    _changed.notify_one();
  }

 private:
  void work() {
    std::unique_lock<std::mutex> hold(_lock);
    for (;;) {
      _changed.wait(hold, [this] { return _stopping || !_queue.empty(); });
      if (_queue.empty()) return;
      std::unique_ptr<qmgl_task_message_base> const message = std::move(_queue.front());
      _queue.pop_front();
      hold.unlock();
      message->execute();
      hold.lock();
    }
  }

  std::mutex _lock;
  std::condition_variable _changed;
  std::deque<std::unique_ptr<qmgl_task_message_base>> _queue;
  bool _stopping = false;
  std::thread _thread;
};

template <class Worker>
void produce(Worker& worker, round_counter& counter, int count) {
  trivial_message const message(counter);
  for (int i = 0; i < count; ++i)
    worker.add_task(message);
}

// One round: the producers add messages_per_round messages between them; it ends when the
// worker has run the last one.
template <class Worker>
void throughput(benchmark::State& state) {
  int const producers = static_cast<int>(state.range(0));
  Worker worker;
  round_counter counter;
  for (auto _ : state) {
    counter.left = messages_per_round;
    std::vector<std::thread> others;
    for (int p = 1; p < producers; ++p)
      others.emplace_back([&] { produce(worker, counter, messages_per_round / producers); });
    produce(worker, counter,
            messages_per_round - (producers - 1) * (messages_per_round / producers));
    for (std::thread& t : others)
      t.join();
    counter.done.acquire();
  }
  state.SetItemsProcessed(state.iterations() * messages_per_round);
}

void BM_TaskDoerThroughput(benchmark::State& state) {
  throughput<qmgl_task_doer>(state);
}
BENCHMARK(BM_TaskDoerThroughput)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_PlainWorkerThroughput(benchmark::State& state) {
  throughput<plain_worker>(state);
}
BENCHMARK(BM_PlainWorkerThroughput)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

// One message at a time to a worker that waits for work: the time until the producer hears
// that it has run.
template <class Worker>
void latency(benchmark::State& state) {
  Worker worker;
  round_counter counter;
  trivial_message const message(counter);
  for (auto _ : state) {
    counter.left = 1;
    worker.add_task(message);
    counter.done.acquire();
  }
}

void BM_TaskDoerLatency(benchmark::State& state) {
  latency<qmgl_task_doer>(state);
}
BENCHMARK(BM_TaskDoerLatency)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_PlainWorkerLatency(benchmark::State& state) {
  latency<plain_worker>(state);
}
BENCHMARK(BM_PlainWorkerLatency)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
