// Long runs of qmgl_first_difference: AVX2, 128 bytes a step, when the processor has it;
// otherwise SSE2 or words, 64 bytes a step. The processor is asked once.

#include "qmgl/qmgl_byte_scan.h"

#include <bit>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define WYGL_BYTE_SCAN_AVX2 1
#endif

namespace {

// Whether the 64 bytes at x and y are equal.
bool equal_64(unsigned char const* x, unsigned char const* y) noexcept {
#if defined(__SSE2__)
  auto const equal = [&](int at) noexcept {
    return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<__m128i const*>(x + at)),
                          _mm_loadu_si128(reinterpret_cast<__m128i const*>(y + at)));
  };
  __m128i const all =
      _mm_and_si128(_mm_and_si128(equal(0), equal(16)), _mm_and_si128(equal(32), equal(48)));
  return _mm_movemask_epi8(all) == 0xFFFF;
#else
  return std::memcmp(x, y, 64) == 0;
#endif
}

// The run from the first 64-byte block that differs; n when none does.
std::size_t first_unequal_block(unsigned char const* x, unsigned char const* y,
                                std::size_t n) noexcept {
  std::size_t i = 0;
  while (i + 64 <= n && equal_64(x + i, y + i))
    i += 64;
  return i;
}

#if defined(WYGL_BYTE_SCAN_AVX2)
__attribute__((target("avx2"))) inline __m256i equal_32(unsigned char const* x,
                                                        unsigned char const* y) noexcept {
  return _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<__m256i const*>(x)),
                           _mm256_loadu_si256(reinterpret_cast<__m256i const*>(y)));
}

// The differing bytes of a 32-byte compare, one bit each.
__attribute__((target("avx2"))) inline unsigned differing(__m256i equal) noexcept {
  return ~static_cast<unsigned>(_mm256_movemask_epi8(equal));
}

// The first difference among n >= 64 bytes, 128 bytes a step; a difference found in a step is
// located within it from the step's own compares, and the bytes after the last whole step are
// compared in 32-byte blocks, the last of which may overlap the one before it.
__attribute__((target("avx2"))) std::size_t first_difference_avx2(unsigned char const* x,
                                                                  unsigned char const* y,
                                                                  std::size_t n) noexcept {
  std::size_t i = 0;
  for (; i + 128 <= n; i += 128) {
    __m256i const e[4] = {equal_32(x + i, y + i), equal_32(x + i + 32, y + i + 32),
                          equal_32(x + i + 64, y + i + 64), equal_32(x + i + 96, y + i + 96)};
    if (differing(_mm256_and_si256(_mm256_and_si256(e[0], e[1]), _mm256_and_si256(e[2], e[3]))) ==
        0)
      continue;
    for (std::size_t k = 0;; ++k)
      if (unsigned const d = differing(e[k]); d != 0)
        return i + 32 * k + static_cast<std::size_t>(std::countr_zero(d));
  }
  for (; i < n; i += 32) {
    if (i + 32 > n) i = n - 32;
    if (unsigned const d = differing(equal_32(x + i, y + i)); d != 0)
      return i + static_cast<std::size_t>(std::countr_zero(d));
  }
  return n;
}

bool has_avx2() noexcept {
  static bool const has = __builtin_cpu_supports("avx2");
  return has;
}
#endif

}  // namespace

std::size_t qmgl_first_difference_in_long_run(void const* a, void const* b,
                                              std::size_t n) noexcept {
  auto const* x = static_cast<unsigned char const*>(a);
  auto const* y = static_cast<unsigned char const*>(b);
#if defined(WYGL_BYTE_SCAN_AVX2)
  if (has_avx2()) return first_difference_avx2(x, y, n);
#endif
  std::size_t const skipped = first_unequal_block(x, y, n);
  // What is left is short, or holds the difference within its first 64 bytes.
  std::size_t rest = n - skipped;
  std::size_t at = skipped;
  while (rest >= 64) {
    std::size_t const found = qmgl_first_difference(x + at, y + at, 63);
    if (found < 63) return at + found;
    at += 63;
    rest -= 63;
  }
  return at + qmgl_first_difference(x + at, y + at, rest);
}
