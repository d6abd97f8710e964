// Costs of the locks, signals and the critical region, uncontended.

#include <chrono>
#include <mutex>
#include <random>
#include <string>

#include <benchmark/benchmark.h>
#include <wygl/qmgl_sync.h>

namespace {

std::string fresh_name(char const* what) {
  std::random_device entropy;
  return "wygl-bench-" + std::to_string(entropy()) + "-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" + what;
}

void BM_PrivateLockRequestRelease(benchmark::State& state) {
  qmgl_sync_lock_private lock;
  for (auto _ : state) {
    lock.request();
    lock.release();
  }
}
BENCHMARK(BM_PrivateLockRequestRelease);

void BM_NamedLockRequestRelease(benchmark::State& state) {
  std::string const name = fresh_name("lock");
  qmgl_sync_lock_shared lock(name.c_str(), qmgl_action_create);
  for (auto _ : state) {
    lock.request();
    lock.release();
  }
}
BENCHMARK(BM_NamedLockRequestRelease);

void BM_MonitorScope(benchmark::State& state) {
  qmgl_sync_lock_private lock;
  for (auto _ : state) {
    qmgl_sync_monitor hold(lock);
  }
}
BENCHMARK(BM_MonitorScope);

void BM_StdMutexLockUnlock(benchmark::State& state) {
  std::mutex mutex;
  for (auto _ : state) {
    mutex.lock();
    mutex.unlock();
  }
}
BENCHMARK(BM_StdMutexLockUnlock);

void BM_GuardEnterLeave(benchmark::State& state) {
  qmgl_guard guard;
  for (auto _ : state) {
    guard.enterCriticalRegion();
    guard.leaveCriticalRegion();
  }
}
BENCHMARK(BM_GuardEnterLeave);

void BM_SignalWaitPosted(benchmark::State& state) {
  qmgl_sync_sema_private signal(qmgl_sync_sema::posted);
  for (auto _ : state)
    benchmark::DoNotOptimize(signal.wait(0));
}
BENCHMARK(BM_SignalWaitPosted);

void BM_SignalPostReset(benchmark::State& state) {
  qmgl_sync_sema_private signal;
  for (auto _ : state) {
    signal.post();
    signal.reset();
  }
}
BENCHMARK(BM_SignalPostReset);

// Creating and destroying a named lock: the name space's bookkeeping across processes.
void BM_NamedLockCreateDestroy(benchmark::State& state) {
  std::string const name = fresh_name("created");
  for (auto _ : state) {
    qmgl_sync_lock_shared lock(name.c_str(), qmgl_action_create);
  }
}
BENCHMARK(BM_NamedLockCreateDestroy);

}  // namespace
