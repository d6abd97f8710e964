// Costs of the character streams: appending to a string sink, collecting in a block buffer,
// and reading from a block-fed source, each at two sizes to show that the cost per character
// does not grow with the length.

#include <string>

#include <benchmark/benchmark.h>
#include <wygl/qmgl_input.h>
#include <wygl/qmgl_output.h>

namespace {

struct counting_sink : qmgl_output_imp, qmgl_output_buffer_mixin {
  std::size_t delivered = 0;
  void flush() override { flush_buffer(); }

 private:
  void really_put_char(char c) override { put_buffered_char(c); }
  void really_flush_buffer(char const*, int length) override {
    delivered += static_cast<std::size_t>(length);
  }
};

struct chunk_source : qmgl_input_imp, qmgl_input_buffer_mixin {
  chunk_source(std::size_t total, std::size_t chunk) : left_(total), chunk_(chunk, 'x') {}

 private:
  void fill_buffer() override {
    if (left_ == 0) return;
    std::size_t const n = std::min(left_, chunk_.size());
    add_data(chunk_.data(), n);
    left_ -= n;
  }
  char really_get_char() override {
    int const c = get_buffered_char();
    return c == -1 ? end_of_source() : static_cast<char>(c);
  }
  std::size_t left_;
  std::string chunk_;
};

void BM_StringSinkAppend(benchmark::State& state) {
  auto const n = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    qmgl_ntarray_of<char, 0> text;
    qmgl_output_str out(text);
    for (std::size_t i = 0; i < n; ++i)
      out.put_char('a');
    benchmark::DoNotOptimize(text.length());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
}
BENCHMARK(BM_StringSinkAppend)->Arg(10 << 10)->Arg(1 << 20);

void BM_BufferedSinkCollect(benchmark::State& state) {
  auto const n = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    counting_sink sink;
    for (std::size_t i = 0; i < n; ++i)
      sink.put_char('a');
    sink.flush();
    benchmark::DoNotOptimize(sink.delivered);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
}
BENCHMARK(BM_BufferedSinkCollect)->Arg(10 << 10)->Arg(16 << 20);

void BM_BufferedSourceRead(benchmark::State& state) {
  auto const n = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    chunk_source in(n, 16384);
    in.throw_on_eoi(false);
    std::size_t count = 0;
    while (in.get_char() != '\0')
      ++count;
    benchmark::DoNotOptimize(count);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
}
BENCHMARK(BM_BufferedSourceRead)->Arg(10 << 10)->Arg(16 << 20);

void BM_FormatInt(benchmark::State& state) {
  qmgl_output_black_hole out;
  int value = -2147483647;
  for (auto _ : state) {
    out << value;
    value += 7919;
  }
}
BENCHMARK(BM_FormatInt);

}  // namespace
