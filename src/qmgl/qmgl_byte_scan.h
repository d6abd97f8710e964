// Scanning runs of bytes a block at a time, for the string comparisons and the value text.
//
// Each function reads only the bytes of the ranges it is given. Where the processor has SSE2
// (every x86-64, and x86 builds that enable it) 16 bytes are compared per step, and long runs
// use AVX2 when the processor running the library has it; elsewhere eight bytes are compared
// at a time in a machine word. Every way gives the same results.

#ifndef WYGL_SRC_QMGL_QMGL_BYTE_SCAN_H
#define WYGL_SRC_QMGL_QMGL_BYTE_SCAN_H

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The number of bits set in x, without the library call that std::popcount becomes where the
// processor's own instruction may not be assumed.
inline unsigned qmgl_count_bits(std::uint32_t x) noexcept {
  x -= (x >> 1) & 0x55555555u;
  x = (x & 0x33333333u) + ((x >> 2) & 0x33333333u);
  x = (x + (x >> 4)) & 0x0F0F0F0Fu;
  return (x * 0x01010101u) >> 24;
}

// qmgl_first_difference for runs of 64 bytes and more.
std::size_t qmgl_first_difference_in_long_run(void const* a, void const* b, std::size_t n) noexcept;

// The index of the first byte where a[0..n) and b[0..n) differ, or n when they are equal.
inline std::size_t qmgl_first_difference(void const* a, void const* b, std::size_t n) noexcept {
  if (n >= 64) return qmgl_first_difference_in_long_run(a, b, n);
  auto const* x = static_cast<unsigned char const*>(a);
  auto const* y = static_cast<unsigned char const*>(b);
  std::size_t i = 0;
#if defined(__SSE2__)
  if (n >= 16) {
    // The last block may overlap the one before it.
    for (;; i += 16) {
      if (i + 16 > n) i = n - 16;
      __m128i const u = _mm_loadu_si128(reinterpret_cast<__m128i const*>(x + i));
      __m128i const v = _mm_loadu_si128(reinterpret_cast<__m128i const*>(y + i));
      unsigned const differ =
          ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(u, v))) & 0xFFFFu;
      if (differ != 0) return i + static_cast<std::size_t>(std::countr_zero(differ));
      if (i + 16 == n) return n;
    }
  }
#endif
  for (; i + 8 <= n; i += 8) {
    std::uint64_t u;
    std::uint64_t v;
    std::memcpy(&u, x + i, 8);
    std::memcpy(&v, y + i, 8);
    if (std::uint64_t const differ = u ^ v; differ != 0) {
      // The differing byte that comes first in memory.
      if constexpr (std::endian::native == std::endian::little)
        return i + static_cast<std::size_t>(std::countr_zero(differ)) / 8;
      else
        return i + static_cast<std::size_t>(std::countl_zero(differ)) / 8;
    }
  }
  for (; i < n; ++i)
    if (x[i] != y[i]) return i;
  return n;
}

// The number of bytes equal to c among the n bytes at p.
inline std::size_t qmgl_count_byte(void const* p, std::size_t n, char c) noexcept {
  auto const* x = static_cast<unsigned char const*>(p);
  std::size_t count = 0;
  std::size_t i = 0;
#if defined(__SSE2__)
  // Each equal byte is -1 in a compare; subtracting the compares counts in 16 byte-sized
  // counters, which are summed before any of them can pass 255.
  __m128i const wanted = _mm_set1_epi8(c);
  while (i + 16 <= n) {
    __m128i counters = _mm_setzero_si128();
    std::size_t const end = i + std::min<std::size_t>((n - i) / 16, 255) * 16;
    for (; i < end; i += 16)
      counters = _mm_sub_epi8(
          counters,
          _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<__m128i const*>(x + i)), wanted));
    __m128i const sums = _mm_sad_epu8(counters, _mm_setzero_si128());
    count += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
             static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  }
#endif
  for (; i < n; ++i)
    count += x[i] == static_cast<unsigned char>(c) ? 1 : 0;
  return count;
}

// Copies n bytes, as memcpy does; short runs (the tokens of the value text) without a call.
inline void qmgl_copy_bytes(char* to, char const* from, std::size_t n) noexcept {
  if (n > 16) {
    std::memcpy(to, from, n);
  } else if (n >= 8) {
    // Two words that overlap when n is below 16.
    std::uint64_t head;
    std::uint64_t tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + n - 8, 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + n - 8, &tail, 8);
  } else {
    for (std::size_t i = 0; i < n; ++i)
      to[i] = from[i];
  }
}

// The offset of the first byte equal to c among the n bytes at p, or n.
inline std::size_t qmgl_find_byte(char const* p, std::size_t n, char c) noexcept {
  std::size_t i = 0;
#if defined(__SSE2__)
  __m128i const wanted = _mm_set1_epi8(c);
  for (; i + 16 <= n; i += 16) {
    __m128i const block = _mm_loadu_si128(reinterpret_cast<__m128i const*>(p + i));
    if (unsigned const hits =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted))))
      return i + static_cast<std::size_t>(std::countr_zero(hits));
  }
#endif
  for (; i < n; ++i)
    if (p[i] == c) return i;
  return n;
}

#if defined(__SSE2__)
// Stores the 16 bytes at from whole at to, for the one-pass copies below; returns one bit for
// each of them equal to the byte that wanted repeats.
inline unsigned qmgl_store_block_find(char const* from, char* to, __m128i wanted) noexcept {
  __m128i const block = _mm_loadu_si128(reinterpret_cast<__m128i const*>(from));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(to), block);
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted)));
}

// One step of the undoubling copies below over the 16 bytes at from, of which at least 33
// are readable: they are stored whole at to, and for each pair of quotes the 16 bytes after
// its second quote are stored again one place further back for every pair so far. A pair
// whose second quote is the next block's first byte belongs to this step. A quote without a
// partner ends the step there (ended), before that quote.
struct qmgl_undoubling_step {
  std::size_t taken;    // bytes of the input passed
  std::size_t written;  // bytes of the copy made
  bool ended;
};
inline qmgl_undoubling_step qmgl_store_block_undoubling(char const* from, char* to, char quote,
                                                        __m128i wanted) noexcept {
  unsigned hits = qmgl_store_block_find(from, to, wanted);
  std::size_t pairs = 0;
  while (hits != 0) {
    std::size_t const at = static_cast<std::size_t>(std::countr_zero(hits));
    if (from[at + 1] != quote) return {at, at - pairs, true};
    ++pairs;
    if (at == 15) return {17, 17 - pairs, false};
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + at + 2 - pairs),
                     _mm_loadu_si128(reinterpret_cast<__m128i const*>(from + at + 2)));
    hits &= hits - 1;  // this quote
    hits &= hits - 1;  // and its partner, the next one
  }
  return {16, 16 - pairs, false};
}
#endif

// Copies the n bytes at from to to with every byte equal to quote written twice; returns the
// end of the copy (n plus the number of quotes further on).
inline char* qmgl_copy_doubling(char const* from, std::size_t n, char quote, char* to) noexcept {
#if defined(__SSE2__)
  // Copying and finding in one pass, 16 bytes a step. Each block is stored whole at to; for
  // the k-th quote in it, the 16 bytes from that quote on are stored again k places further,
  // which writes the quote a second time and moves what follows it. The blocks are read at
  // fixed steps, so that the next read never waits for this one's quotes. A store of the
  // bytes at some place p goes where the copy of p begins or before it, and with 32 bytes to
  // go every stored byte is one of the input: no store passes the end of the copy.
  __m128i const wanted = _mm_set1_epi8(quote);
  for (; n >= 32; from += 16, n -= 16) {
    unsigned hits = qmgl_store_block_find(from, to, wanted);
    std::size_t shift = 0;
    for (; hits != 0; hits &= hits - 1) {
      std::size_t const at = static_cast<std::size_t>(std::countr_zero(hits));
      ++shift;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + at + shift),
                       _mm_loadu_si128(reinterpret_cast<__m128i const*>(from + at)));
    }
    to += 16 + shift;
  }
  // The last 16 to 31 bytes: a step ends after a quote, so that no read passes the end.
  while (n >= 16) {
    unsigned const hits = qmgl_store_block_find(from, to, wanted);
    std::size_t const run = hits == 0 ? 16 : static_cast<std::size_t>(std::countr_zero(hits)) + 1;
    to += run;
    if (hits != 0) *to++ = quote;
    from += run;
    n -= run;
  }
#endif
  for (;;) {
    std::size_t const run = qmgl_find_byte(from, n, quote);
    qmgl_copy_bytes(to, from, run);
    to += run;
    if (run == n) return to;
    *to++ = quote;
    *to++ = quote;
    from += run + 1;
    n -= run + 1;
  }
}

// Where a quoted constant's text ends within [from, end): the first quote that is not followed
// by a second one, or a quote on the last byte (whose partner may lie beyond), or end when
// there is none; and the number of doubled quotes before that place.
struct qmgl_quoted_scan {
  char const* stop;
  std::size_t doubled;
};
inline qmgl_quoted_scan qmgl_scan_quoted(char const* from, char const* end, char quote) noexcept {
  std::size_t doubled = 0;
  for (;;) {
    char const* const hit =
        from + qmgl_find_byte(from, static_cast<std::size_t>(end - from), quote);
    if (hit == end || hit + 1 == end || hit[1] != quote) return {hit, doubled};
    ++doubled;
    from = hit + 2;
  }
}

// qmgl_scan_quoted and the copy of what it passes in one pass: the bytes of [from, end) before
// the place qmgl_scan_quoted finds go to to, each doubled quote written once. Returns that
// place and the end of the copy. to must have room for end - from bytes.
struct qmgl_quoted_copy {
  char const* stop;
  char* to;
};
inline qmgl_quoted_copy qmgl_copy_quoted(char const* from, char const* end, char quote,
                                         char* to) noexcept {
#if defined(__SSE2__)
  // 16 bytes a step at fixed places, so that the next read never waits for this one's quotes.
  // A store of the bytes at some place goes where the copy of that place begins or before it,
  // and every stored byte is one of the input: the stores stay within the room.
  __m128i const wanted = _mm_set1_epi8(quote);
  while (end - from >= 33) {
    qmgl_undoubling_step const step = qmgl_store_block_undoubling(from, to, quote, wanted);
    from += step.taken;
    to += step.written;
    if (step.ended) return {from, to};
  }
  // The last 16 to 32 bytes: a step ends at a quote, so that no read passes the end.
  while (end - from >= 16) {
    unsigned const hits = qmgl_store_block_find(from, to, wanted);
    if (hits == 0) {
      from += 16;
      to += 16;
      continue;
    }
    std::size_t const before = static_cast<std::size_t>(std::countr_zero(hits));
    char const* const hit = from + before;
    to += before;
    if (hit + 1 == end || hit[1] != quote) return {hit, to};
    ++to;  // the quote itself, stored with the block
    from = hit + 2;
  }
#endif
  for (;;) {
    char const* const hit =
        from + qmgl_find_byte(from, static_cast<std::size_t>(end - from), quote);
    qmgl_copy_bytes(to, from, static_cast<std::size_t>(hit - from));
    to += hit - from;
    if (hit == end || hit + 1 == end || hit[1] != quote) return {hit, to};
    *to++ = quote;
    from = hit + 2;
  }
}

// Copies [from, stop), in which every quote is doubled, to to with each pair written once;
// returns the end of the copy.
inline char* qmgl_copy_undoubling(char const* from, char const* stop, char quote,
                                  char* to) noexcept {
#if defined(__SSE2__)
  // One pass, 16 bytes a step. A step stores 16 bytes from at most 17 bytes on, at the place
  // where their copy begins or further on; with at least 49 bytes to go, at least 16 bytes of
  // the copy follow that place (a pair gives one byte), so that no store passes the end of the
  // copy.
  __m128i const wanted = _mm_set1_epi8(quote);
  while (stop - from >= 49) {
    qmgl_undoubling_step const step = qmgl_store_block_undoubling(from, to, quote, wanted);
    from += step.taken;
    to += step.written;
  }
  // The last 32 to 48 bytes: a step ends at a pair, whose second quote it skips; with at least
  // 32 bytes to go, 16 bytes of the copy follow.
  while (stop - from >= 32) {
    unsigned const hits = qmgl_store_block_find(from, to, wanted);
    if (hits == 0) {
      from += 16;
      to += 16;
      continue;
    }
    // Through the first quote of the pair; its partner is skipped.
    std::size_t const run = static_cast<std::size_t>(std::countr_zero(hits)) + 1;
    to += run;
    from += run + 1;
  }
#endif
  for (;;) {
    std::size_t const run = qmgl_find_byte(from, static_cast<std::size_t>(stop - from), quote);
    qmgl_copy_bytes(to, from, run);
    to += run;
    from += run;
    if (from == stop) return to;
    *to++ = quote;
    from += 2;
  }
}

#endif  // WYGL_SRC_QMGL_QMGL_BYTE_SCAN_H
