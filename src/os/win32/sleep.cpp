#include "os/sleep.h"

#include "os/win32/windows_api.h"

namespace wygl::os {

void sleep_ms(std::uint32_t ms) noexcept {
  Sleep(ms);
}

}  // namespace wygl::os
