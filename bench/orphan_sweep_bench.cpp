// The sweep that removes the files of named objects whose holders all died (POSIX systems):
// one pass over the shared-memory folder while this process holds n named locks, which the
// pass probes and keeps, beside creating and destroying one named lock in the same run.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <wygl/qmgl_sync.h>

#include "os/posix/global_lock.h"
#include "os/posix/orphan_sweep.h"

namespace {

// Names of this run: the clock's count at its start, then what and a number.
std::string bench_name(char const* what, int i) {
  static std::string const run =
      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  return "wygl-bench-" + run + "-" + what + "-" + std::to_string(i);
}

// A sweep as creation and opening run it: under the global lock, taken and let go each time.
void BM_OrphanSweep(benchmark::State& state) {
  std::vector<std::unique_ptr<qmgl_sync_lock_shared>> held;
  for (int i = 0; i < state.range(0); ++i) {
    held.push_back(
        std::make_unique<qmgl_sync_lock_shared>(bench_name("held", i).c_str(), qmgl_action_create));
  }
  for (auto _ : state) {
    wygl::os::global_lock const lock;
    benchmark::DoNotOptimize(wygl::os::sweep_orphan_segments());
  }
}

void BM_NamedLockCreateDestroy(benchmark::State& state) {
  std::string const name = bench_name("created", 0);
  for (auto _ : state) {
    qmgl_sync_lock_shared lock(name.c_str(), qmgl_action_create);
  }
}

BENCHMARK(BM_OrphanSweep)->Arg(0)->Arg(16)->Arg(256);
BENCHMARK(BM_NamedLockCreateDestroy);

}  // namespace
