// Costs of values: appending to an array one value at a time (the cost per value must not
// grow with the array: 1000 and 100000 values should cost the same per value), copying an
// STR value (one small body; the text is shared), and writing a 1 MB BIN value.

#include <vector>

#include <benchmark/benchmark.h>
#include <wygl/qmgl_output.h>
#include <wygl/qmgl_value.h>

namespace {

// A fresh INT per element, appended to an array value through +=, as the text reader does.
void BM_AppendOneByOne(benchmark::State& state) {
  int const n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    qmgl_value list{qmgl_value_array()};
    for (int i = 0; i < n; ++i)
      list += qmgl_value(i);
    benchmark::DoNotOptimize(list.as_value_array().get_size());
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_AppendOneByOne)->Arg(1000)->Arg(100000);

// The same with a shared value, which costs no allocation: what is left is the array's own
// growth.
void BM_AppendSharedOneByOne(benchmark::State& state) {
  int const n = static_cast<int>(state.range(0));
  qmgl_value const element(true);
  for (auto _ : state) {
    qmgl_value_array a;
    for (int i = 0; i < n; ++i)
      a += element;
    benchmark::DoNotOptimize(a.get_size());
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_AppendSharedOneByOne)->Arg(1000)->Arg(100000);

void BM_CopyStrValue(benchmark::State& state) {
  qmgl_value const s("a text of some forty characters in length");
  for (auto _ : state) {
    qmgl_value copy(s);
    benchmark::DoNotOptimize(copy._body);
  }
}
BENCHMARK(BM_CopyStrValue);

void BM_CopyBoolValue(benchmark::State& state) {
  qmgl_value const b(true);
  for (auto _ : state) {
    qmgl_value copy(b);
    benchmark::DoNotOptimize(copy._body);
  }
}
BENCHMARK(BM_CopyBoolValue);

qmgl_value megabyte_bin() {
  std::vector<unsigned char> bytes(1 << 20);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<unsigned char>(i * 131);
  return qmgl_value(
      qmgl_refcounted_vector_of<unsigned char>(bytes.data(), static_cast<unsigned>(bytes.size())));
}

// Into a sink that keeps nothing: the writer's own cost.
void BM_WriteMegabyteBinToBlackHole(benchmark::State& state) {
  qmgl_value const v = megabyte_bin();
  qmgl_output_black_hole out;
  for (auto _ : state)
    v.stream_out(out);
  state.SetBytesProcessed(state.iterations() * (1 << 20));
}
BENCHMARK(BM_WriteMegabyteBinToBlackHole)->Unit(benchmark::kMillisecond);

// Into a string, which grows to the 2 MB of text.
void BM_WriteMegabyteBinToString(benchmark::State& state) {
  qmgl_value const v = megabyte_bin();
  for (auto _ : state) {
    qmgl_ntarray_of<char, 0> text;
    qmgl_output_str out(text);
    v.stream_out(out);
    benchmark::DoNotOptimize(text.length());
  }
  state.SetBytesProcessed(state.iterations() * (1 << 20));
}
BENCHMARK(BM_WriteMegabyteBinToString)->Unit(benchmark::kMillisecond);

}  // namespace
