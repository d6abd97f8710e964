#include "os/last_error.h"

namespace wygl::os {
namespace {
thread_local std::uint32_t thread_last_error = 0;
}  // namespace

std::uint32_t last_error() noexcept {
  return thread_last_error;
}

void set_last_error(std::uint32_t code) noexcept {
  thread_last_error = code;
}

// Sockets are file descriptors here, and their failures land in the same value.
std::uint32_t last_socket_error() noexcept {
  return last_error();
}

void set_last_socket_error(std::uint32_t code) noexcept {
  set_last_error(code);
}

}  // namespace wygl::os
