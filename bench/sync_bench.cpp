// Costs of the locks, signals and the critical region, beside the standard library's mutexes
// doing the same.
//
// glibc takes and gives its mutexes without atomic instructions while the process has only
// ever had one thread, and the private lock does the same; once a thread has been started,
// both need them for good. So the uncontended figures come twice: first in this process while
// it has one thread, then (the benchmarks named .../threaded_process) after it has started
// one, which is the case a lock exists for. Benchmarks run in the order they are registered
// here, so the one-thread figures are taken first.

#include <chrono>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>
#include <wygl/qmgl_sync.h>

namespace {

std::string fresh_name(char const* what) {
  std::random_device entropy;
  return "wygl-bench-" + std::to_string(entropy()) + "-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" + what;
}

void make_process_threaded(bool threaded) {
  if (!threaded) return;
  static bool const started = [] {
    std::thread([] {}).join();
    return true;
  }();
  benchmark::DoNotOptimize(started);
}

void BM_PrivateLockRequestRelease(benchmark::State& state, bool threaded) {
  make_process_threaded(threaded);
  qmgl_sync_lock_private lock;
  for (auto _ : state) {
    lock.request();
    lock.release();
  }
}

void BM_StdRecursiveMutexLockUnlock(benchmark::State& state, bool threaded) {
  make_process_threaded(threaded);
  std::recursive_mutex mutex;
  for (auto _ : state) {
    mutex.lock();
    mutex.unlock();
  }
}

void BM_StdMutexLockUnlock(benchmark::State& state, bool threaded) {
  make_process_threaded(threaded);
  std::mutex mutex;
  for (auto _ : state) {
    mutex.lock();
    mutex.unlock();
  }
}

void BM_NamedLockRequestRelease(benchmark::State& state, bool threaded) {
  make_process_threaded(threaded);
  std::string const name = fresh_name("lock");
  qmgl_sync_lock_shared lock(name.c_str(), qmgl_action_create);
  for (auto _ : state) {
    lock.request();
    lock.release();
  }
}

void BM_MonitorScope(benchmark::State& state, bool threaded) {
  make_process_threaded(threaded);
  qmgl_sync_lock_private lock;
  for (auto _ : state) {
    qmgl_sync_monitor hold(lock);
  }
}

void BM_GuardEnterLeave(benchmark::State& state, bool threaded) {
  make_process_threaded(threaded);
  qmgl_guard guard;
  for (auto _ : state) {
    guard.enterCriticalRegion();
    guard.leaveCriticalRegion();
  }
}

void BM_SignalWaitPosted(benchmark::State& state) {
  qmgl_sync_sema_private signal(qmgl_sync_sema::posted);
  for (auto _ : state)
    benchmark::DoNotOptimize(signal.wait(0));
}

void BM_SignalPostWait(benchmark::State& state) {
  qmgl_sync_sema_private signal;
  for (auto _ : state) {
    signal.post();
    signal.wait();
  }
}

void BM_SignalPostReset(benchmark::State& state) {
  qmgl_sync_sema_private signal;
  for (auto _ : state) {
    signal.post();
    signal.reset();
  }
}

// A named signal, whose state lives in memory that processes share.
void BM_NamedSignalPostWait(benchmark::State& state) {
  std::string const name = fresh_name("signal");
  qmgl_sync_sema_shared signal(name.c_str(), qmgl_action_create, qmgl_sync_sema::not_posted);
  for (auto _ : state) {
    signal.post();
    signal.wait();
  }
}

// Creating and destroying a named lock: the name space's bookkeeping across processes.
void BM_NamedLockCreateDestroy(benchmark::State& state) {
  std::string const name = fresh_name("created");
  for (auto _ : state) {
    qmgl_sync_lock_shared lock(name.c_str(), qmgl_action_create);
  }
}

// Two threads take and give back one lock in turn, as fast as each can: every hand-over
// between them is a contended take. The benchmark's start and end wait for both threads, so
// the lock exists before either uses it and is gone only after both are done.
void BM_PrivateLockTwoThreads(benchmark::State& state) {
  static qmgl_sync_lock_private* lock = nullptr;
  if (state.thread_index() == 0) lock = new qmgl_sync_lock_private;
  for (auto _ : state) {
    lock->request();
    lock->release();
  }
  if (state.thread_index() == 0) {
    delete lock;
    lock = nullptr;
  }
}

void BM_StdRecursiveMutexTwoThreads(benchmark::State& state) {
  static std::recursive_mutex mutex;
  for (auto _ : state) {
    mutex.lock();
    mutex.unlock();
  }
}

// In a process with one thread.
BENCHMARK_CAPTURE(BM_PrivateLockRequestRelease, one_thread_process, false);
BENCHMARK_CAPTURE(BM_StdRecursiveMutexLockUnlock, one_thread_process, false);
BENCHMARK_CAPTURE(BM_StdMutexLockUnlock, one_thread_process, false);
BENCHMARK_CAPTURE(BM_NamedLockRequestRelease, one_thread_process, false);
BENCHMARK_CAPTURE(BM_MonitorScope, one_thread_process, false);
BENCHMARK_CAPTURE(BM_GuardEnterLeave, one_thread_process, false);

// From here on the process has started a thread.
BENCHMARK_CAPTURE(BM_PrivateLockRequestRelease, threaded_process, true);
BENCHMARK_CAPTURE(BM_StdRecursiveMutexLockUnlock, threaded_process, true);
BENCHMARK_CAPTURE(BM_StdMutexLockUnlock, threaded_process, true);
BENCHMARK_CAPTURE(BM_NamedLockRequestRelease, threaded_process, true);
BENCHMARK_CAPTURE(BM_MonitorScope, threaded_process, true);
BENCHMARK_CAPTURE(BM_GuardEnterLeave, threaded_process, true);
BENCHMARK(BM_SignalWaitPosted);
BENCHMARK(BM_SignalPostWait);
BENCHMARK(BM_SignalPostReset);
BENCHMARK(BM_NamedSignalPostWait);
BENCHMARK(BM_NamedLockCreateDestroy);
BENCHMARK(BM_PrivateLockTwoThreads)->Threads(2)->UseRealTime();
BENCHMARK(BM_StdRecursiveMutexTwoThreads)->Threads(2)->UseRealTime();

}  // namespace
