// Writing and reading a document of values through the text syntax, against RapidJSON and
// nlohmann::json doing the same with the same rows as JSON, in the same run.
//
// The document is an array of about 4 MB of value text whose rows are arrays of INT, STR with
// apostrophes, UNI with non-ASCII characters, BIN and INT. As JSON each row is an array of two
// numbers and three strings: the STR and UNI texts as UTF-8 strings and the BIN bytes as a
// string of their hexadecimal digits. Every benchmark of the run handles the same rows, so
// times compare directly; items are rows, bytes are those of each side's own text.

#include <cstdint>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <wygl/qmgl_iconv.h>
#include <wygl/qmgl_input.h>
#include <wygl/qmgl_output.h>
#include <wygl/qmgl_value.h>
#include <wygl/qmgl_value_reader.h>

namespace {

constexpr std::size_t document_text_size = 4 << 20;

// The cells of row n, shared by both forms.
struct row_cells {
  int number;
  char const* text;
  char16_t const* wide;
  std::vector<unsigned char> bytes;
  int last;
};

row_cells cells_of(int n) {
  row_cells cells{n * 7919,
                  "it's a 'quoted' text, row of the document",
                  u"caf\u00e9 \u201cquoted\u201d \u20ac",
                  std::vector<unsigned char>(24),
                  -n};
  for (std::size_t i = 0; i < cells.bytes.size(); ++i)
    cells.bytes[i] = static_cast<unsigned char>(n * 31 + i * 7);
  return cells;
}

qmgl_value row(int n) {
  row_cells const cells = cells_of(n);
  qmgl_value_array a;
  a += qmgl_value(cells.number);
  a += qmgl_value(cells.text);
  a += qmgl_value(reinterpret_cast<unsigned short const*>(cells.wide));
  a += qmgl_value(qmgl_refcounted_vector_of<unsigned char>(
      cells.bytes.data(), static_cast<unsigned>(cells.bytes.size())));
  a += qmgl_value(cells.last);
  return qmgl_value(a);
}

nlohmann::json json_row(int n) {
  static constexpr char digits[] = "0123456789abcdef";
  row_cells const cells = cells_of(n);
  std::string hex;
  for (unsigned char b : cells.bytes) {
    hex += digits[b >> 4];
    hex += digits[b & 0x0F];
  }
  // The UTF-8 form of the wide text, as the value writer makes it.
  qmgl_ntarray_of<char, 0> const utf8 =
      qmgl_uni_to_qmgl_str(reinterpret_cast<unsigned short const*>(cells.wide));
  return nlohmann::json::array(
      {cells.number, cells.text, static_cast<char const*>(utf8), hex, cells.last});
}

std::string text_of(qmgl_value const& v) {
  qmgl_ntarray_of<char, 0> text;
  qmgl_output_str out(text);
  v.stream_out(out);
  return std::string(text, text.length());
}

// The rows of both documents.
struct documents {
  qmgl_value value;
  std::string value_text;
  nlohmann::json json;
  std::string json_text;
  int rows = 0;
};

// The rows stay arrays inside the value document: each is put into its slot, not appended
// flat.
documents const& document() {
  static documents const made = [] {
    documents d;
    qmgl_value_array rows;
    std::size_t length = 2;
    d.json = nlohmann::json::array();
    for (int n = 0; length < document_text_size; ++n) {
      qmgl_value const r = row(n);
      length += text_of(r).size() + 2;
      rows += qmgl_value();
      rows[rows.get_size() - 1] = r;
      d.json.push_back(json_row(n));
      ++d.rows;
    }
    d.value = qmgl_value(rows);
    d.value_text = text_of(d.value);
    d.json_text = d.json.dump();
    return d;
  }();
  return made;
}

void count(benchmark::State& state, std::string const& text) {
  state.SetItemsProcessed(state.iterations() * document().rows);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

// ---- writing ----

void BM_WriteDocumentToString(benchmark::State& state) {
  qmgl_value const& doc = document().value;
  for (auto _ : state) {
    qmgl_ntarray_of<char, 0> text;
    qmgl_output_str out(text);
    doc.stream_out(out);
    benchmark::DoNotOptimize(text.length());
  }
  count(state, document().value_text);
}
BENCHMARK(BM_WriteDocumentToString)->Unit(benchmark::kMillisecond);

void BM_WriteDocumentToBlackHole(benchmark::State& state) {
  qmgl_value const& doc = document().value;
  for (auto _ : state) {
    qmgl_output_black_hole out;
    doc.stream_out(out);
  }
  count(state, document().value_text);
}
BENCHMARK(BM_WriteDocumentToBlackHole)->Unit(benchmark::kMillisecond);

// RapidJSON's Writer into its StringBuffer, from its DOM.
void BM_RapidJsonWriteDocument(benchmark::State& state) {
  rapidjson::Document doc;
  doc.Parse(document().json_text.c_str());
  for (auto _ : state) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    doc.Accept(writer);
    benchmark::DoNotOptimize(buffer.GetSize());
  }
  count(state, document().json_text);
}
BENCHMARK(BM_RapidJsonWriteDocument)->Unit(benchmark::kMillisecond);

void BM_NlohmannDumpDocument(benchmark::State& state) {
  nlohmann::json const& doc = document().json;
  for (auto _ : state) {
    std::string text = doc.dump();
    benchmark::DoNotOptimize(text.size());
  }
  count(state, document().json_text);
}
BENCHMARK(BM_NlohmannDumpDocument)->Unit(benchmark::kMillisecond);

// ---- reading: the document read is dropped outside the timed part ----

void BM_ReadDocument(benchmark::State& state) {
  std::string const& text = document().value_text;
  for (auto _ : state) {
    qmgl_input_str in(text.c_str());
    qmgl_value v;
    in >> v;
    benchmark::DoNotOptimize(v.as_value_array().get_size());
    state.PauseTiming();
    v = qmgl_value();
    state.ResumeTiming();
  }
  count(state, text);
}
BENCHMARK(BM_ReadDocument)->Unit(benchmark::kMillisecond);

// RapidJSON's DOM parse (its default flags: UTF-8 in and out, the text left unchanged).
void BM_RapidJsonParseDocument(benchmark::State& state) {
  std::string const& text = document().json_text;
  for (auto _ : state) {
    auto* doc = new rapidjson::Document;
    doc->Parse(text.c_str());
    benchmark::DoNotOptimize(doc->Size());
    state.PauseTiming();
    delete doc;
    state.ResumeTiming();
  }
  count(state, text);
}
BENCHMARK(BM_RapidJsonParseDocument)->Unit(benchmark::kMillisecond);

void BM_NlohmannParseDocument(benchmark::State& state) {
  std::string const& text = document().json_text;
  for (auto _ : state) {
    auto* doc = new nlohmann::json(nlohmann::json::parse(text));
    benchmark::DoNotOptimize(doc->size());
    state.PauseTiming();
    delete doc;
    state.ResumeTiming();
  }
  count(state, text);
}
BENCHMARK(BM_NlohmannParseDocument)->Unit(benchmark::kMillisecond);

// ---- reading and dropping the document, as a caller that reads one message after another ----

void BM_ReadAndDropDocument(benchmark::State& state) {
  std::string const& text = document().value_text;
  for (auto _ : state) {
    qmgl_input_str in(text.c_str());
    qmgl_value v;
    in >> v;
    benchmark::DoNotOptimize(v.as_value_array().get_size());
  }
  count(state, text);
}
BENCHMARK(BM_ReadAndDropDocument)->Unit(benchmark::kMillisecond);

void BM_RapidJsonParseAndDropDocument(benchmark::State& state) {
  std::string const& text = document().json_text;
  for (auto _ : state) {
    rapidjson::Document doc;
    doc.Parse(text.c_str());
    benchmark::DoNotOptimize(doc.Size());
  }
  count(state, text);
}
BENCHMARK(BM_RapidJsonParseAndDropDocument)->Unit(benchmark::kMillisecond);

void BM_NlohmannParseAndDropDocument(benchmark::State& state) {
  std::string const& text = document().json_text;
  for (auto _ : state) {
    nlohmann::json doc = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(doc.size());
  }
  count(state, text);
}
BENCHMARK(BM_NlohmannParseAndDropDocument)->Unit(benchmark::kMillisecond);

}  // namespace
