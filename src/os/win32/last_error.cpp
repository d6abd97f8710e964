#include "os/last_error.h"

#include "os/win32/windows_api.h"

namespace wygl::os {

std::uint32_t last_error() noexcept {
  return GetLastError();
}

void set_last_error(std::uint32_t code) noexcept {
  SetLastError(code);
}

}  // namespace wygl::os
