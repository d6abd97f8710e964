// Suspending the calling thread.

#ifndef WYGL_SRC_OS_SLEEP_H
#define WYGL_SRC_OS_SLEEP_H

#include <cstdint>

namespace wygl::os {

// Suspends the calling thread for at least ms milliseconds, resuming the wait after any
// interruption by a signal. 0 yields the processor. ms must stay below 0xFFFFFFFF, which the
// Windows backend would read as "forever".
void sleep_ms(std::uint32_t ms) noexcept;

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_SLEEP_H
