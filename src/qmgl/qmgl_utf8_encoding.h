// The step from UTF-16 to UTF-8 that the narrow conversion and the narrow trace texts share:
// one code point read from 16-bit units, and its bytes.

#ifndef WYGL_SRC_QMGL_QMGL_UTF8_ENCODING_H
#define WYGL_SRC_QMGL_QMGL_UTF8_ENCODING_H

#include <cstddef>
#include <cstdint>

namespace wygl::utf8 {

// A code point read from 16-bit units, and how many units it took.
struct utf16_code_point {
  std::uint32_t value;
  std::size_t units;
};

// The code point at p: a surrogate pair, or a single unit (an unpaired surrogate included).
inline utf16_code_point read_utf16(unsigned short const* p) noexcept {
  std::uint32_t const c = p[0];
  if (c >= 0xD800 && c <= 0xDBFF) {
    std::uint32_t const n = p[1];
    if (n != 0 && n >= 0xDC00 && n <= 0xDFFF)
      return {((c - 0xD800) << 10) + (n - 0xDC00) + 0x10000, 2};
  }
  return {c, 1};
}

inline std::size_t byte_count(std::uint32_t cp) noexcept {
  return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

// Writes the byte_count(cp) bytes of cp at out.
inline void write(std::uint32_t cp, unsigned char* out) noexcept {
  static constexpr unsigned char first_byte_mark[5] = {0x00, 0x00, 0xC0, 0xE0, 0xF0};
  std::size_t const count = byte_count(cp);
  for (std::size_t i = count - 1; i > 0; --i) {
    out[i] = static_cast<unsigned char>((cp & 0x3F) | 0x80);
    cp >>= 6;
  }
  out[0] = static_cast<unsigned char>(cp | first_byte_mark[count]);
}

}  // namespace wygl::utf8

#endif  // WYGL_SRC_QMGL_QMGL_UTF8_ENCODING_H
