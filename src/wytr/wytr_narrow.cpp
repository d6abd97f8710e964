#include "wytr/wytr_narrow.h"

#include <cstddef>

#include "qmgl/qmgl_utf8_encoding.h"

namespace wytr {

narrow_text::narrow_text(std::basic_string<unsigned short> const& text) noexcept
    : narrow_text(text.c_str()) {}

narrow_text::narrow_text(unsigned short const* text) noexcept {
  auto* out = reinterpret_cast<unsigned char*>(_text);
  std::size_t used = 0;
  if (text != nullptr) {
    for (unsigned short const* p = text; *p != 0;) {
      auto const cp = wygl::utf8::read_utf16(p);
      std::size_t const count = wygl::utf8::byte_count(cp.value);
      if (used + count > capacity) break;
      wygl::utf8::write(cp.value, out + used);
      used += count;
      p += cp.units;
    }
  }
  _text[used] = '\0';
}

}  // namespace wytr
