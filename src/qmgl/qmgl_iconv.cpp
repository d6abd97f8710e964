// Conversion between UTF-16 and UTF-8, lenient as the reference conversion.
//
// Each direction runs twice over its input: a first pass finds the exact size of the result
// (and, from UTF-8, whether a sequence is cut short, before anything is allocated), a second
// pass writes the result straight into the array of a new string body. The cost is linear in
// the length, with one allocation, where appending element by element would rebuild the
// string at each element.
//
// A decoded 0 (from an overlong form such as 0xC0 0x80) gives the result that appending unit
// by unit with s + c gives: appending a 0 leaves the text as it was (s + 0 has s's length), so
// the 0 takes no place in the text and the units after it follow on directly. "A" 0xC0 0x80
// "B" gives the wide text AB; 0xC0 0x80 alone gives the empty text.

#include <wygl/qmgl_iconv.h>

#include <cstddef>
#include <cstdint>

#include <wygl/qmgl_exc.h>

#include "qmgl/qmgl_byte_scan.h"
#include "qmgl/qmgl_iconv_runs.h"
#include "qmgl/qmgl_ntarray_build.h"

namespace {

constexpr char source_file[] = "src/qmgl/qmgl_iconv";

// ---- UTF-16 to UTF-8 ----

// The code point at p (a surrogate pair or a single unit) and the units it takes.
struct utf16_code_point {
  std::uint32_t value;
  std::size_t units;
};

utf16_code_point read_utf16(unsigned short const* p) noexcept {
  std::uint32_t const c = p[0];
  if (c >= 0xD800 && c <= 0xDBFF) {
    std::uint32_t const n = p[1];
    if (n != 0 && n >= 0xDC00 && n <= 0xDFFF)
      return {((c - 0xD800) << 10) + (n - 0xDC00) + 0x10000, 2};
  }
  return {c, 1};
}

std::size_t utf8_byte_count(std::uint32_t cp) noexcept {
  return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

constexpr unsigned char first_byte_mark[5] = {0x00, 0x00, 0xC0, 0xE0, 0xF0};

// ---- UTF-8 to UTF-16 ----

// Trailing bytes announced by a lead byte.
constexpr unsigned trailing_bytes(unsigned char lead) noexcept {
  return lead < 0xC0   ? 0
         : lead < 0xE0 ? 1
         : lead < 0xF0 ? 2
         : lead < 0xF8 ? 3
         : lead < 0xFC ? 4
                       : 5;
}

constexpr std::uint32_t utf8_offset[6] = {0x00000000u, 0x00003080u, 0x000E2080u,
                                          0x03C82080u, 0xFA082080u, 0x82082080u};

constexpr std::uint32_t highest_code_point = 0x10FFFF;

// Decodes the sequence at p, which has all its trailing bytes before the end; advances p.
std::uint32_t read_utf8(unsigned char const*& p, unsigned extra) noexcept {
  std::uint32_t cp = *p++;
  for (unsigned i = 0; i < extra; ++i)
    cp = (cp << 6) + *p++;
  return cp - utf8_offset[extra];
}

std::size_t utf16_unit_count(std::uint32_t cp) noexcept {
  return cp > 0xFFFF && cp <= highest_code_point ? 2 : 1;
}

// The UTF-8 size of the n units at text when none of them is a surrogate, each unit one code
// point of one to three bytes; false when there is a surrogate.
bool size_without_surrogates(unsigned short const* text, std::size_t n,
                             std::size_t& size) noexcept {
  std::size_t i = 0;
  size = n;
#if defined(__SSE2__)
  // Eight units a step; compares are signed, so the units are shifted by 0x8000 first.
  __m128i const shift = _mm_set1_epi16(static_cast<short>(0x8000));
  __m128i const above_7f = _mm_set1_epi16(static_cast<short>(0x807F));
  __m128i const above_7ff = _mm_set1_epi16(static_cast<short>(0x87FF));
  __m128i const surrogate_mask = _mm_set1_epi16(static_cast<short>(0xF800));
  __m128i const surrogate = _mm_set1_epi16(static_cast<short>(0xD800));
  __m128i surrogates = _mm_setzero_si128();
  for (; i + 8 <= n; i += 8) {
    __m128i const units = _mm_loadu_si128(reinterpret_cast<__m128i const*>(text + i));
    __m128i const shifted = _mm_xor_si128(units, shift);
    // Each of the two compares gives -1 for a unit above its bound: two bits of the byte mask.
    unsigned const longer =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi16(shifted, above_7f))) |
        (static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi16(shifted, above_7ff))) << 16);
    size += qmgl_count_bits(longer) / 2;
    surrogates =
        _mm_or_si128(surrogates, _mm_cmpeq_epi16(_mm_and_si128(units, surrogate_mask), surrogate));
  }
  if (_mm_movemask_epi8(surrogates) != 0) return false;
#endif
  bool any = false;
  for (; i < n; ++i) {
    unsigned const u = text[i];
    size += (u >= 0x80 ? 1 : 0) + (u >= 0x800 ? 1 : 0);
    any = any || (u & 0xF800u) == 0xD800u;
  }
  return !any;
}

}  // namespace

std::size_t qmgl_utf8_size(unsigned short const* text, std::size_t n) noexcept {
  std::size_t size = 0;
  if (size_without_surrogates(text, n, size)) return size;
  size = 0;
  for (unsigned short const* p = text; p < text + n;) {
    auto const cp = read_utf16(p);
    size += utf8_byte_count(cp.value);
    p += cp.units;
  }
  return size;
}

char* qmgl_utf16_to_utf8(unsigned short const* text, std::size_t n, char* to) noexcept {
  auto* out = reinterpret_cast<unsigned char*>(to);
  for (unsigned short const* p = text; p < text + n;) {
    auto cp = read_utf16(p);
    p += cp.units;
    std::size_t const count = utf8_byte_count(cp.value);
    for (std::size_t i = count - 1; i > 0; --i) {
      out[i] = static_cast<unsigned char>((cp.value & 0x3F) | 0x80);
      cp.value >>= 6;
    }
    out[0] = static_cast<unsigned char>(cp.value | first_byte_mark[count]);
    out += count;
  }
  return reinterpret_cast<char*>(out);
}

qmgl_ntarray_of<char, 0> const qmgl_uni_to_qmgl_str(unsigned short const* text) {
  using body_type = qmgl_ntarray_imp_of<char, 0>;
  std::size_t units = 0;
  if (text != nullptr)
    while (text[units] != 0)
      ++units;
  std::uint64_t const size = qmgl_utf8_size(text, units);
  // A size beyond what a string holds makes create raise exc_not_enough_memory_t.
  auto* body = body_type::create(size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<unsigned>(size));
  *qmgl_utf16_to_utf8(text, units, body->data) = '\0';
  // No byte written is 0: units stop at the first 0, and every byte of a longer form is at
  // least 0x80.
  body->length = static_cast<unsigned>(size);
  return qmgl_ntarray_built<char, 0>(body);
}

namespace {

// Writes the units of the code point cp at out (none for 0); returns the end.
unsigned short* write_utf16(std::uint32_t cp, unsigned short* out) noexcept {
  if (cp == 0) return out;
  if (cp <= 0xFFFF) {
    *out++ = static_cast<unsigned short>(cp);
  } else if (cp <= highest_code_point) {
    *out++ = static_cast<unsigned short>(0xD800 + ((cp - 0x10000) >> 10));
    *out++ = static_cast<unsigned short>(0xDC00 + ((cp - 0x10000) & 0x3FF));
  } else {
    *out++ = 0xFFFD;
  }
  return out;
}

[[noreturn]] void cut_short(int line) {
  throw exc_unexpected_end_of_input_t(source_file, line, "exc_unexpected_end_of_input");
}

// Texts up to this many bytes are converted in one pass into a body with room for one unit per
// byte, the most they can give; longer ones are measured first, so that their body is exact.
constexpr std::size_t one_pass_bytes = 256;

}  // namespace

qmgl_ntarray_of<unsigned short, 0> qmgl_utf8_to_uni(char const* text, std::size_t length) {
  using body_type = qmgl_ntarray_imp_of<unsigned short, 0>;
  auto const* begin = reinterpret_cast<unsigned char const*>(text);
  auto const* const end = begin + length;

  if (length <= one_pass_bytes) {
    // Bound at once, so that the body goes again when a sequence turns out cut short.
    qmgl_ntarray_built<unsigned short, 0> result(body_type::create(static_cast<unsigned>(length)));
    body_type* const body = result._imp;
    unsigned short* out = body->data;
    for (auto const* p = begin; p < end;) {
      if (*p < 0x80) {
        *out++ = *p++;
        continue;
      }
      unsigned const extra = trailing_bytes(*p);
      if (static_cast<std::size_t>(end - p) <= extra) cut_short(__LINE__);
      out = write_utf16(read_utf8(p, extra), out);
    }
    *out = 0;
    body->length = static_cast<unsigned>(out - body->data);
    return result;
  }

  std::uint64_t size = 0;
  for (auto const* p = begin; p < end;) {
    unsigned const extra = trailing_bytes(*p);
    if (static_cast<std::size_t>(end - p) <= extra) cut_short(__LINE__);
    std::uint32_t const cp = read_utf8(p, extra);
    if (cp != 0) size += utf16_unit_count(cp);
  }

  // Every sequence of k bytes gives at most 2 <= k units (one unit for k < 3 whatever the
  // bytes hold), so size never exceeds the narrow length.
  auto* body = body_type::create(static_cast<unsigned>(size));
  unsigned short* out = body->data;
  for (auto const* p = begin; p < end;)
    out = write_utf16(read_utf8(p, trailing_bytes(*p)), out);
  *out = 0;
  body->length = static_cast<unsigned>(out - body->data);
  return qmgl_ntarray_built<unsigned short, 0>(body);
}

qmgl_ntarray_of<unsigned short, 0> const qmgl_str_to_qmgl_uni(qmgl_ntarray_of<char, 0> text) {
  return qmgl_utf8_to_uni(text, text.length());
}
