// Writing and reading a document of values through the text syntax: an array of about 1 MB of
// text whose rows are arrays mixing INT, STR with quotes, UNI with non-ASCII characters and
// BIN. Figures are in bytes of text per second.

#include <cstdint>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <wygl/qmgl_input.h>
#include <wygl/qmgl_output.h>
#include <wygl/qmgl_value.h>
#include <wygl/qmgl_value_reader.h>

namespace {

constexpr std::size_t document_text_size = 1 << 20;

qmgl_value row(int n) {
  static char16_t const wide[] = u"caf\u00e9 \u201cquoted\u201d \u20ac";
  std::vector<unsigned char> bytes(24);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<unsigned char>(n * 31 + i * 7);
  qmgl_value_array cells;
  cells += qmgl_value(n * 7919);
  cells += qmgl_value("it's a 'quoted' text, row of the document");
  cells += qmgl_value(reinterpret_cast<unsigned short const*>(wide));
  cells += qmgl_value(
      qmgl_refcounted_vector_of<unsigned char>(bytes.data(), static_cast<unsigned>(bytes.size())));
  cells += qmgl_value(-n);
  return qmgl_value(cells);
}

std::string text_of(qmgl_value const& v) {
  qmgl_ntarray_of<char, 0> text;
  qmgl_output_str out(text);
  v.stream_out(out);
  return std::string(text, text.length());
}

// The rows stay arrays inside the document: each is put into its slot, not appended flat.
qmgl_value const& document() {
  static qmgl_value const made = [] {
    qmgl_value_array rows;
    std::size_t length = 2;
    for (int n = 0; length < document_text_size; ++n) {
      qmgl_value const r = row(n);
      length += text_of(r).size() + 2;
      rows += qmgl_value();
      rows[rows.get_size() - 1] = r;
    }
    return qmgl_value(rows);
  }();
  return made;
}

std::string const& document_text() {
  static std::string const text = text_of(document());
  return text;
}

void BM_WriteDocumentToString(benchmark::State& state) {
  qmgl_value const& doc = document();
  for (auto _ : state) {
    qmgl_ntarray_of<char, 0> text;
    qmgl_output_str out(text);
    doc.stream_out(out);
    benchmark::DoNotOptimize(text.length());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * document_text().size()));
}
BENCHMARK(BM_WriteDocumentToString)->Unit(benchmark::kMillisecond);

void BM_WriteDocumentToBlackHole(benchmark::State& state) {
  qmgl_value const& doc = document();
  for (auto _ : state) {
    qmgl_output_black_hole out;
    doc.stream_out(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * document_text().size()));
}
BENCHMARK(BM_WriteDocumentToBlackHole)->Unit(benchmark::kMillisecond);

// Reading alone: the document read is dropped outside the timed part.
void BM_ReadDocument(benchmark::State& state) {
  std::string const& text = document_text();
  for (auto _ : state) {
    qmgl_input_str in(text.c_str());
    qmgl_value v;
    in >> v;
    benchmark::DoNotOptimize(v.as_value_array().get_size());
    state.PauseTiming();
    v = qmgl_value();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadDocument)->Unit(benchmark::kMillisecond);

// Reading and dropping the document, as a caller that reads one message after another does.
void BM_ReadAndDropDocument(benchmark::State& state) {
  std::string const& text = document_text();
  for (auto _ : state) {
    qmgl_input_str in(text.c_str());
    qmgl_value v;
    in >> v;
    benchmark::DoNotOptimize(v.as_value_array().get_size());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadAndDropDocument)->Unit(benchmark::kMillisecond);

}  // namespace
