// Trace record writers used inside the library.
//
// A text record's data is a printf-style text formatted at the tracepoint into a 65536-byte
// buffer on the writer's stack, so that writing a record needs no heap memory and records of
// different threads never share a buffer. Callers test the level first (wytr_enabled or the
// helpers of wytr_scope.h): these functions write unconditionally.

#ifndef WYGL_SRC_WYTR_WYTR_RECORD_H
#define WYGL_SRC_WYTR_WYTR_RECORD_H

#include <cstdarg>
#include <cstdint>

#include <wygl/wytr.h>

#if defined(__GNUC__) || defined(__clang__)
#define WYTR_PRINTF(format_index, first_arg) \
  __attribute__((format(printf, format_index, first_arg)))
#else
#define WYTR_PRINTF(format_index, first_arg)
#endif

namespace wytr {

// Size of the formatting buffer. Every format of the library produces far shorter texts; a
// longer one is cut to 65535 characters.
inline constexpr int text_buffer_size = 65536;

// Writes (kind, tracepoint, object) with the formatted text as data item 1; its length is the
// text's character count, without the terminating NUL. object may be null (object word 0).
void write_text(std::uint32_t kind, std::uint32_t tracepoint, void const* object,
                char const* format, ...) noexcept WYTR_PRINTF(4, 5);
void write_text_v(std::uint32_t kind, std::uint32_t tracepoint, void const* object,
                  char const* format, std::va_list args) noexcept WYTR_PRINTF(4, 0);

}  // namespace wytr

#endif  // WYGL_SRC_WYTR_WYTR_RECORD_H
