// Costs of strings and conversions: copying a handle against the bare minimum (a pointer copy
// with an atomic increment and decrement), making new texts and comparing them against
// std::string and the C library doing the same work, and both conversions on 10 KB and 1 MB
// texts (linear: the 1 MB time should be about 100 times the 10 KB time).

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <wygl/qmgl_iconv.h>
#include <wygl/qmgl_ntarray.h>

namespace {

using str = qmgl_ntarray_of<char, 0>;
using uni = qmgl_ntarray_of<unsigned short, 0>;

std::string text_of_size(std::size_t n, char first = 'a') {
  std::string s(n, 'x');
  for (std::size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>(first + i % 26);
  return s;
}

// ---- copying ----

void BM_StringHandleCopy(benchmark::State& state) {
  str const s("a shared text");
  for (auto _ : state) {
    str copy = s;
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_StringHandleCopy);

struct counted_body {
  std::atomic<std::int32_t> count{1};
  char text[16] = "a shared text";
};

void BM_RawPointerAtomicCount(benchmark::State& state) {
  auto* const shared = new counted_body;
  for (auto _ : state) {
    counted_body* copy = shared;
    copy->count.fetch_add(1, std::memory_order_seq_cst);
    benchmark::DoNotOptimize(copy);
    if (copy->count.fetch_sub(1, std::memory_order_seq_cst) == 1) delete copy;  // never here
  }
  delete shared;
}
BENCHMARK(BM_RawPointerAtomicCount);

void BM_StdStringCopy(benchmark::State& state) {
  std::string const s = text_of_size(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::string copy = s;
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_StdStringCopy)->Arg(13)->Arg(1024);

// ---- new texts ----

void BM_StringConcat(benchmark::State& state) {
  auto const n = static_cast<std::size_t>(state.range(0));
  str const a(text_of_size(n).c_str());
  str const b(text_of_size(n, 'A').c_str());
  for (auto _ : state) {
    str c = a + b;
    benchmark::DoNotOptimize(c);
  }
}
BENCHMARK(BM_StringConcat)->Arg(8)->Arg(64)->Arg(1024);

void BM_StdStringConcat(benchmark::State& state) {
  auto const n = static_cast<std::size_t>(state.range(0));
  std::string const a = text_of_size(n);
  std::string const b = text_of_size(n, 'A');
  for (auto _ : state) {
    std::string c = a + b;
    benchmark::DoNotOptimize(c);
  }
}
BENCHMARK(BM_StdStringConcat)->Arg(8)->Arg(64)->Arg(1024);

void BM_StringAppendChars(benchmark::State& state) {
  // One character at a time: each append builds a new text (quadratic by design).
  auto const n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    str s;
    for (int i = 0; i < n; ++i)
      s += 'x';
    benchmark::DoNotOptimize(s);
  }
}
BENCHMARK(BM_StringAppendChars)->Arg(64);

void BM_StringSubstring(benchmark::State& state) {
  auto const n = static_cast<unsigned>(state.range(0));
  str const s(text_of_size(n).c_str());
  for (auto _ : state) {
    str part = s.substring(n / 4, n / 2);
    benchmark::DoNotOptimize(part);
  }
}
BENCHMARK(BM_StringSubstring)->Arg(64)->Arg(2048);

void BM_StdStringSubstr(benchmark::State& state) {
  auto const n = static_cast<std::size_t>(state.range(0));
  std::string const s = text_of_size(n);
  for (auto _ : state) {
    std::string part = s.substr(n / 4, n / 2);
    benchmark::DoNotOptimize(part);
  }
}
BENCHMARK(BM_StdStringSubstr)->Arg(64)->Arg(2048);

// ---- comparison: equal texts of the given length, then texts differing in the last element ----

void BM_StringEqual(benchmark::State& state) {
  auto const n = static_cast<std::size_t>(state.range(0));
  str const a(text_of_size(n).c_str());
  str const b(text_of_size(n).c_str());
  for (auto _ : state)
    benchmark::DoNotOptimize(a == b);
}
BENCHMARK(BM_StringEqual)->Arg(16)->Arg(1024);

void BM_StringEqualPointer(benchmark::State& state) {
  auto const n = static_cast<std::size_t>(state.range(0));
  str const a(text_of_size(n).c_str());
  std::string const b = text_of_size(n);
  char const* const p = b.c_str();
  for (auto _ : state)
    benchmark::DoNotOptimize(a == p);
}
BENCHMARK(BM_StringEqualPointer)->Arg(16)->Arg(1024);

void BM_StdStringEqualPointer(benchmark::State& state) {
  auto const n = static_cast<std::size_t>(state.range(0));
  std::string const a = text_of_size(n);
  std::string const b = text_of_size(n);
  char const* const p = b.c_str();
  for (auto _ : state)
    benchmark::DoNotOptimize(a == p);
}
BENCHMARK(BM_StdStringEqualPointer)->Arg(16)->Arg(1024);

void BM_StdStringEqual(benchmark::State& state) {
  auto const n = static_cast<std::size_t>(state.range(0));
  std::string const a = text_of_size(n);
  std::string const b = text_of_size(n);
  for (auto _ : state)
    benchmark::DoNotOptimize(a == b);
}
BENCHMARK(BM_StdStringEqual)->Arg(16)->Arg(1024);

void BM_StringLess(benchmark::State& state) {
  auto const n = static_cast<std::size_t>(state.range(0));
  std::string other = text_of_size(n);
  other.back() = 'z';
  str const a(text_of_size(n).c_str());
  str const b(other.c_str());
  for (auto _ : state)
    benchmark::DoNotOptimize(a < b);
}
BENCHMARK(BM_StringLess)->Arg(16)->Arg(1024);

void BM_StdStringLess(benchmark::State& state) {
  auto const n = static_cast<std::size_t>(state.range(0));
  std::string const a = text_of_size(n);
  std::string b = text_of_size(n);
  b.back() = 'z';
  for (auto _ : state)
    benchmark::DoNotOptimize(a < b);
}
BENCHMARK(BM_StdStringLess)->Arg(16)->Arg(1024);

void BM_Strcmp(benchmark::State& state) {
  auto const n = static_cast<std::size_t>(state.range(0));
  std::string const a = text_of_size(n);
  std::string b = text_of_size(n);
  b.back() = 'z';
  char const* const pa = a.c_str();
  char const* const pb = b.c_str();
  for (auto _ : state) {
    benchmark::DoNotOptimize(pa);
    benchmark::DoNotOptimize(pb);
    benchmark::DoNotOptimize(std::strcmp(pa, pb) < 0);
  }
}
BENCHMARK(BM_Strcmp)->Arg(16)->Arg(1024);

// ---- conversions: mixed text, about 60% ASCII, the rest two-, three- and four-byte forms ----

std::vector<unsigned short> mixed_units(std::size_t utf8_bytes) {
  static constexpr std::uint32_t pattern[] = {'H', 'e', 'l', 'l', 'o', ' ',     0xE9, 0x20AC,
                                              'w', 'o', 'r', 'l', 'd', 0x1F600, ' ',  0x4E2D};
  std::vector<unsigned short> units;
  std::size_t bytes = 0;
  for (std::size_t i = 0; bytes < utf8_bytes; ++i) {
    std::uint32_t const cp = pattern[i % std::size(pattern)];
    if (cp < 0x80) {
      units.push_back(static_cast<unsigned short>(cp));
      bytes += 1;
    } else if (cp < 0x800) {
      units.push_back(static_cast<unsigned short>(cp));
      bytes += 2;
    } else if (cp < 0x10000) {
      units.push_back(static_cast<unsigned short>(cp));
      bytes += 3;
    } else {
      units.push_back(static_cast<unsigned short>(0xD800 + ((cp - 0x10000) >> 10)));
      units.push_back(static_cast<unsigned short>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
      bytes += 4;
    }
  }
  units.push_back(0);
  return units;
}

void BM_WideToNarrow(benchmark::State& state) {
  auto const units = mixed_units(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    str narrow = qmgl_uni_to_qmgl_str(units.data());
    benchmark::DoNotOptimize(narrow);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_WideToNarrow)->Arg(10 * 1024)->Arg(1024 * 1024);

void BM_NarrowToWide(benchmark::State& state) {
  auto const units = mixed_units(static_cast<std::size_t>(state.range(0)));
  str const narrow = qmgl_uni_to_qmgl_str(units.data());
  for (auto _ : state) {
    uni wide = qmgl_str_to_qmgl_uni(narrow);
    benchmark::DoNotOptimize(wide);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_NarrowToWide)->Arg(10 * 1024)->Arg(1024 * 1024);

}  // namespace
