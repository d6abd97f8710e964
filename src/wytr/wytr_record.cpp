#include "wytr/wytr_record.h"

#include <cstdio>
#include <cstring>

#include <wygl/qmgl_exc.h>

namespace wytr {

void write_text_v(std::uint32_t kind, std::uint32_t tracepoint, void const* object,
                  char const* format, std::va_list args) noexcept {
  char text[text_buffer_size];
  if (std::vsnprintf(text, sizeof text, format, args) < 0) text[0] = '\0';
  auto const length = static_cast<std::uint32_t>(std::strlen(text));
  trcwriterec(kind, tracepoint, object, length, text, 0, nullptr, 0, nullptr);
}

void write_text(std::uint32_t kind, std::uint32_t tracepoint, void const* object,
                char const* format, ...) noexcept {
  std::va_list args;
  va_start(args, format);
  write_text_v(kind, tracepoint, object, format, args);
  va_end(args);
}

}  // namespace wytr

void qmgl_trc_exit(unsigned long tracepoint, unsigned long exit_kind, unsigned long level,
                   void const* object) {
  exc_t const* current = exc_t::get_current();
  std::uint32_t kind = 0;
  std::uint32_t data = 0;
  if (wytr_enabled(static_cast<std::uint32_t>(level * 2)) && current != nullptr) {
    kind = static_cast<std::uint32_t>(((exit_kind / 10 + 8) << 16) | 0x06000000u);
    data = static_cast<std::uint32_t>(current->code);
  } else {
    kind = static_cast<std::uint32_t>((exit_kind << 16) | 0x06000000u);
  }
  trcwriterec(kind, static_cast<std::uint32_t>(tracepoint), object, sizeof data, &data, 0, nullptr,
              0, nullptr);
}

void qmgl_trc_exit(unsigned long tracepoint, unsigned long exit_kind, unsigned long level) {
  qmgl_trc_exit(tracepoint, exit_kind, level, nullptr);
}
