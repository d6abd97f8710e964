// Cost of a tracepoint: enabled (a text record into the ring) and disabled (the mask read).

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <string_view>

#include <qmtrc/qmtrc.h>

namespace {

constexpr std::uint32_t kLevel = 0x8;  // error_text
constexpr std::uint32_t kKind = 0x06040000;
constexpr std::uint32_t kTracepoint = 0x140D0D00;
constexpr std::string_view kText = "socket read failed: connection reset by peer (fd 17, 4096 B)";

// What an instrumented call site does.
inline void tracepoint(const void* object) {
  if (std::atomic_ref<std::uint32_t>(trcevents).load(std::memory_order_relaxed) & kLevel) {
    trcwriterec(kKind, kTracepoint, object, static_cast<std::uint32_t>(kText.size()), kText.data(),
                0, nullptr, 0, nullptr);
  }
}

void run(benchmark::State& state, std::uint32_t mask) {
  std::uint32_t old_mask = 0;
  if (state.thread_index() == 0) {
    old_mask = qmtrc_set_mask(mask);
    qmtrc_clear();
  }
  for (auto _ : state)
    tracepoint(&state);
  if (state.thread_index() == 0) {
    // Once the ring is full, every record also drops the oldest; this shows how often.
    state.counters["lost"] = static_cast<double>(qmtrc_lost());
    qmtrc_set_mask(old_mask);
    qmtrc_clear();
  }
}

void BM_TextRecordIntoRing(benchmark::State& state) {
  run(state, kLevel);
}
void BM_DisabledTracepoint(benchmark::State& state) {
  run(state, 0);
}

BENCHMARK(BM_TextRecordIntoRing)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_DisabledTracepoint)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
