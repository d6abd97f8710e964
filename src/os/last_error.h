// The calling thread's last error, in Windows numbering on every platform.
//
// The Windows backend reads and writes the system's own values (GetLastError/SetLastError,
// WSAGetLastError/WSASetLastError). The POSIX backend keeps one per-thread value of its own,
// which its system calls set, mapped from errno, when they fail; there the socket error is
// the same value as the last error.

#ifndef WYGL_SRC_OS_LAST_ERROR_H
#define WYGL_SRC_OS_LAST_ERROR_H

#include <cstdint>

namespace wygl::os {

std::uint32_t last_error() noexcept;
void set_last_error(std::uint32_t code) noexcept;

// The calling thread's last socket error, in Winsock numbering (WSAECONNREFUSED 10061, ...).
std::uint32_t last_socket_error() noexcept;
void set_last_socket_error(std::uint32_t code) noexcept;

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_LAST_ERROR_H
