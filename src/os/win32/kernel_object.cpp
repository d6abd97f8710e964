#include "os/kernel_object.h"

#include "os/win32/windows_api.h"

namespace wygl::os {

static_assert(wait_obtained == WAIT_OBJECT_0);
static_assert(wait_abandoned == WAIT_ABANDONED);
static_assert(wait_timed_out == WAIT_TIMEOUT);
static_assert(wait_failed == WAIT_FAILED);
static_assert(wait_forever == INFINITE);

void close_handle(handle h) noexcept {
  CloseHandle(h);
}

std::uint32_t wait_for(handle h, std::uint32_t timeout_ms) noexcept {
  return WaitForSingleObject(h, timeout_ms);
}

}  // namespace wygl::os
