// The calling thread's last error, in Windows numbering on every platform.
//
// The Windows backend reads and writes the system's own value (GetLastError/SetLastError,
// WSAGetLastError). The POSIX backend keeps a per-thread value of its own, which its system
// calls set, mapped from errno, when they fail.

#ifndef WYGL_SRC_OS_LAST_ERROR_H
#define WYGL_SRC_OS_LAST_ERROR_H

#include <cstdint>

namespace wygl::os {

std::uint32_t last_error() noexcept;
void set_last_error(std::uint32_t code) noexcept;

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_LAST_ERROR_H
