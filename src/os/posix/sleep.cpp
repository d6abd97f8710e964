#include "os/sleep.h"

#include <cerrno>
#include <ctime>

#include <sched.h>

namespace wygl::os {

void sleep_ms(std::uint32_t ms) noexcept {
  if (ms == 0) {
    sched_yield();
    return;
  }
  timespec request{};
  request.tv_sec = static_cast<std::time_t>(ms / 1000);
  request.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  // A signal cuts nanosleep short and leaves the time still to wait in its second argument.
  timespec remaining{};
  while (nanosleep(&request, &remaining) != 0 && errno == EINTR)
    request = remaining;
}

}  // namespace wygl::os
