// File handles of the POSIX backend: a file descriptor's number, held in the pointer's bits.

#ifndef WYGL_SRC_OS_POSIX_FILE_DESCRIPTOR_H
#define WYGL_SRC_OS_POSIX_FILE_DESCRIPTOR_H

#include <climits>
#include <cstdint>

#include "os/file.h"

namespace wygl::os::posix {

// The descriptor a handle holds; -1, which every call rejects with EBADF, for a value that no
// descriptor has.
inline int fd_of(file_handle handle) noexcept {
  auto const value = reinterpret_cast<std::intptr_t>(handle);
  return value >= 0 && value <= INT_MAX ? static_cast<int>(value) : -1;
}

inline file_handle handle_of(int fd) noexcept {
  return reinterpret_cast<file_handle>(static_cast<std::intptr_t>(fd));
}

}  // namespace wygl::os::posix

#endif  // WYGL_SRC_OS_POSIX_FILE_DESCRIPTOR_H
