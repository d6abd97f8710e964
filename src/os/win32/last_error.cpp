#include "os/last_error.h"

#include "os/win32/windows_api.h"

namespace wygl::os {

std::uint32_t last_error() noexcept {
  return GetLastError();
}

void set_last_error(std::uint32_t code) noexcept {
  SetLastError(code);
}

std::uint32_t last_socket_error() noexcept {
  return static_cast<std::uint32_t>(WSAGetLastError());
}

void set_last_socket_error(std::uint32_t code) noexcept {
  WSASetLastError(static_cast<int>(code));
}

}  // namespace wygl::os
