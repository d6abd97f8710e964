// Costs of tracing: a disabled operation scope, an enabled text record, and an exception
// raised and caught with tracing off.

#include <benchmark/benchmark.h>
#include <qmtrc/qmtrc.h>
#include <wygl/qmgl_exc.h>

#include "wytr/wytr_record.h"
#include "wytr/wytr_scope.h"

namespace {

class mask_setting {
 public:
  explicit mask_setting(std::uint32_t mask) : previous_(qmtrc_set_mask(mask)) {}
  ~mask_setting() { qmtrc_set_mask(previous_); }

 private:
  std::uint32_t previous_;
};

void BM_DisabledOperationScope(benchmark::State& state) {
  mask_setting off(0);
  int object = 0;
  for (auto _ : state) {
    wytr::operation_scope scope(wytr::tp::file_flush, wytr::depth::public_operation, &object);
    benchmark::DoNotOptimize(&scope);
  }
}
BENCHMARK(BM_DisabledOperationScope);

void BM_EnabledTextRecord(benchmark::State& state) {
  mask_setting on(wytr::level::error_text);
  int object = 0;
  for (auto _ : state) {
    wytr::write_text(wytr::kind_word(wytr::kind::error_text), wytr::tp::socket_write, &object,
                     "send failed: error %lu on socket %p", 10054UL, static_cast<void*>(&object));
  }
  qmtrc_clear();
}
BENCHMARK(BM_EnabledTextRecord);

void BM_ThrowAndCatchTimeout(benchmark::State& state) {
  mask_setting off(0);
  for (auto _ : state) {
    try {
      throw exc_timeout_t("bench/trace_bench", __LINE__, "exc_timeout");
    } catch (exc_timing_t const& e) {
      benchmark::DoNotOptimize(e.code);
    }
  }
}
BENCHMARK(BM_ThrowAndCatchTimeout);

}  // namespace
