#include "qmgl/qmgl_error_note.h"

#include <wygl/qmgl_exc.h>
#include <wygl/wytr_ids.h>

namespace wygl {

std::wstring wide_system_text(std::uint32_t code) noexcept {
  try {
    std::basic_string<unsigned short> const units = error_string(code);
    return std::wstring(units.begin(), units.end());
  } catch (...) {
    // A text that cannot be allocated is left out; the code is still reported.
    return std::wstring();
  }
}

void note_system_error(wytr::operation_scope const& scope, char const* format,
                       std::uint32_t code) noexcept {
  if (!wytr_enabled(wytr::level::error_text)) return;
  std::wstring const text = wide_system_text(code);
  scope.note(wytr::level::error_text, wytr::kind::error_text, format, static_cast<int>(code),
             text.c_str());
}

}  // namespace wygl
