#include "os/kernel_object.h"

#include "os/error_codes.h"
#include "os/last_error.h"
#include "os/posix/object_record.h"

namespace wygl::os {

std::uint32_t object_record::wait(std::uint32_t) noexcept {
  set_last_error(err::access_denied);
  return wait_failed;
}

object_record* no_record() noexcept {
  set_last_error(err::invalid_handle);
  return nullptr;
}

void close_handle(handle h) noexcept {
  delete static_cast<object_record*>(h);
}

std::uint32_t wait_for(handle h, std::uint32_t timeout_ms) noexcept {
  if (h == nullptr) {
    set_last_error(err::invalid_handle);
    return wait_failed;
  }
  return static_cast<object_record*>(h)->wait(timeout_ms);
}

}  // namespace wygl::os
