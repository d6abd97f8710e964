// errno values in Windows numbering, for the POSIX backend's calls that fail.
//
// The library reports system errors with Windows error numbers on every platform, so each
// failing POSIX call turns its errno into the number Windows gives for the same failure.
// Some errno values mean different things for files and for sockets (EAGAIN is a lock
// conflict on a file and "would block" on a socket; EPIPE is a broken pipe or a socket shut
// down for sending), hence one map for each. Every number these maps give has a text in the
// backend's message table (os/error_text.h).

#ifndef WYGL_SRC_OS_POSIX_ERRNO_MAP_H
#define WYGL_SRC_OS_POSIX_ERRNO_MAP_H

#include <cstdint>

namespace wygl::os {

// For files, locks, shared memory and threads. 0 gives 0 (no error). EEXIST gives
// ERROR_FILE_EXISTS (80), as a file created only when new reports it; the named objects,
// which report ERROR_ALREADY_EXISTS (183), set that number themselves. ENOENT gives
// ERROR_FILE_NOT_FOUND (2) and ENOTDIR ERROR_PATH_NOT_FOUND (3). An errno without a Windows
// counterpart gives ERROR_GEN_FAILURE (31).
std::uint32_t windows_error_from_errno(int errno_value) noexcept;

// For sockets, in Winsock numbering (WSAE...). 0 gives 0. EAGAIN and EINPROGRESS both give
// WSAEWOULDBLOCK (10035), as a non-blocking Windows socket reports an operation that cannot
// complete at once, connect included; EPIPE gives WSAESHUTDOWN (10058). An errno without a
// Winsock counterpart gives WSASYSCALLFAILURE (10107).
std::uint32_t socket_error_from_errno(int errno_value) noexcept;

// For a non-zero result of getaddrinfo or getnameinfo, in Winsock numbering (unknown host
// WSAHOST_NOT_FOUND 11001, temporary failure WSATRY_AGAIN 11002, unknown service
// WSATYPE_NOT_FOUND 10109, ...). EAI_SYSTEM gives socket_error_from_errno(errno_value). 0
// gives 0; an unknown result gives WSANO_RECOVERY (11003).
std::uint32_t socket_error_from_addrinfo(int result, int errno_value) noexcept;

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_POSIX_ERRNO_MAP_H
