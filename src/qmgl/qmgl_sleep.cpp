#include <wygl/qmgl_sleep.h>

#include <cstdint>

#include "os/sleep.h"

void qmgl_sleep(int ms) noexcept {
  // Checked here rather than passed on: the system's own call reads a negative count as a
  // huge unsigned one, or as "forever".
  if (ms < 0) return;
  wygl::os::sleep_ms(static_cast<std::uint32_t>(ms));
}
