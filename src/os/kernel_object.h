// Kernel objects that the library shares between threads and processes: mutexes, manual-reset
// events and file mappings, and the waits on them.
//
// A handle is the Windows HANDLE on the Windows backend and the backend's own record on POSIX;
// the library only passes it back to this interface. Every failing call returns a null handle
// or false and leaves the reason in the calling thread's last error (os/last_error.h), in
// Windows numbering. Waits return the Windows values.
//
// Named objects share one name space: a name that exists as one kind cannot be created or
// opened as another (ERROR_INVALID_HANDLE, 6); a name that does not exist cannot be opened
// (ERROR_FILE_NOT_FOUND, 2). A named object lives while any process holds a handle to it.
// Objects created with a name may be used by every user of the machine.

#ifndef WYGL_SRC_OS_KERNEL_OBJECT_H
#define WYGL_SRC_OS_KERNEL_OBJECT_H

#include <cstdint>

namespace wygl::os {

using handle = void*;

// The results of wait_for, with their Windows values.
inline constexpr std::uint32_t wait_obtained = 0;
inline constexpr std::uint32_t wait_abandoned = 0x80;
inline constexpr std::uint32_t wait_timed_out = 0x102;
inline constexpr std::uint32_t wait_failed = 0xFFFFFFFF;

// A time limit that never runs out.
inline constexpr std::uint32_t wait_forever = 0xFFFFFFFF;

// What creating a named object found: the handle (null on failure) and whether the name
// existed already, in which case the handle refers to that object and the creation's
// arguments (initial state, size) had no effect.
struct creation {
  handle object;
  bool existed;
};

// Closes h. Its result is not reported: nothing the library does depends on it.
void close_handle(handle h) noexcept;

// Waits at most timeout_ms milliseconds (wait_forever: no limit) until the mutex can be taken
// or the event is set. A mutex is then held by the calling thread, also when the result is
// wait_abandoned (its previous holder ended while holding it). Thread safe.
std::uint32_t wait_for(handle h, std::uint32_t timeout_ms) noexcept;

// Owns a handle until it is released: closes it when a creation is given up half-way.
class owned_handle {
 public:
  explicit owned_handle(handle h) noexcept : _handle(h) {}
  ~owned_handle() {
    if (_handle != nullptr) close_handle(_handle);
  }
  owned_handle(owned_handle const&) = delete;
  owned_handle& operator=(owned_handle const&) = delete;

  handle get() const noexcept { return _handle; }
  handle release() noexcept {
    handle h = _handle;
    _handle = nullptr;
    return h;
  }

 private:
  handle _handle;
};

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_KERNEL_OBJECT_H
