// Costs of the file streams: 16 MB written through qmgl_output_file in one flush and in
// flushes of 4 KB, and 16 MB read through qmgl_input_file, whose reads take 512 bytes each.
// The file lies in the system's temporary folder, so the figures are those of its page cache.

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

#include <benchmark/benchmark.h>
#include <wygl/qmgl_file.h>
#include <wygl/qmgl_file_stream.h>

namespace {

constexpr std::size_t sixteen_mb = std::size_t{16} << 20;

// A file name of its own in the temporary folder, removed when the benchmark ends.
class scratch_file {
 public:
  scratch_file() {
    std::random_device entropy;
    _path = std::filesystem::temp_directory_path() /
            ("wygl-files-bench-" + std::to_string(entropy()) + ".bin");
  }
  ~scratch_file() {
    std::error_code ignored;
    std::filesystem::remove(_path, ignored);
  }
  scratch_file(scratch_file const&) = delete;
  scratch_file& operator=(scratch_file const&) = delete;

  std::string name() const { return _path.string(); }

 private:
  std::filesystem::path _path;
};

// Writes 16 MB character by character, flushing after every `block` characters (0: only
// the destructor's flush).
void write_file(std::string const& name, std::size_t block) {
  qmgl_output_file out(name.c_str(), qmgl_output_file::truncate);
  for (std::size_t i = 0; i < sixteen_mb; ++i) {
    out.put_char(static_cast<char>('a' + i % 26));
    if (block != 0 && (i + 1) % block == 0) out.flush();
  }
}

void BM_OutputFileOneFlush(benchmark::State& state) {
  scratch_file file;
  for (auto _ : state)
    write_file(file.name(), 0);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * sixteen_mb));
}
BENCHMARK(BM_OutputFileOneFlush)->Unit(benchmark::kMillisecond);

void BM_OutputFileFlushEvery4K(benchmark::State& state) {
  scratch_file file;
  for (auto _ : state)
    write_file(file.name(), 4096);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * sixteen_mb));
}
BENCHMARK(BM_OutputFileFlushEvery4K)->Unit(benchmark::kMillisecond);

void BM_InputFileRead(benchmark::State& state) {
  scratch_file file;
  write_file(file.name(), 0);
  for (auto _ : state) {
    qmgl_input_file in(file.name().c_str(), qmgl_file::deny_write);
    in.throw_on_eoi(false);
    std::size_t count = 0;
    while (in.get_char() != '\xff' || !in.empty())
      ++count;
    if (count != sixteen_mb) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * sixteen_mb));
}
BENCHMARK(BM_InputFileRead)->Unit(benchmark::kMillisecond);

}  // namespace
