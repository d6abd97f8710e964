// Absolute times on the monotonic clock, for the timed waits: a change of the wall clock
// neither shortens nor lengthens a wait.

#ifndef WYGL_SRC_OS_POSIX_DEADLINE_H
#define WYGL_SRC_OS_POSIX_DEADLINE_H

#include <cstdint>
#include <ctime>

namespace wygl::os {

inline timespec monotonic_deadline_after(std::uint32_t ms) noexcept {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  long nanoseconds = now.tv_nsec + static_cast<long>(ms % 1000) * 1000000L;
  now.tv_sec += static_cast<std::time_t>(ms / 1000) + nanoseconds / 1000000000L;
  now.tv_nsec = nanoseconds % 1000000000L;
  return now;
}

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_POSIX_DEADLINE_H
