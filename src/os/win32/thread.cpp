#include "os/thread.h"

#include <cerrno>
#include <cstdint>
#include <new>

#include <process.h>

#include "os/win32/windows_api.h"

namespace wygl::os {
namespace {

static_assert(thread_still_active == STILL_ACTIVE);

// CreateThread calls its routine with the system's calling convention, which a plain function
// pointer does not have on 32-bit Windows; this record carries the routine across.
struct held_start {
  thread_routine routine;
  void* argument;
};

DWORD WINAPI run_held(LPVOID p) {
  held_start const start = *static_cast<held_start*>(p);
  delete static_cast<held_start*>(p);
  return start.routine(start.argument);
}

bool fail_with(DWORD code) noexcept {
  SetLastError(code);
  return false;
}

}  // namespace

std::uint64_t thread_stack_size(std::uint64_t requested) noexcept {
  return requested;
}

bool start_detached_thread(void (*routine)(void*), void* argument,
                           std::uint64_t stack_size) noexcept {
  if (stack_size != static_cast<unsigned>(stack_size)) return fail_with(ERROR_NOT_ENOUGH_MEMORY);
  SetLastError(ERROR_SUCCESS);
  errno = 0;
  std::uintptr_t const thread = _beginthread(routine, static_cast<unsigned>(stack_size), argument);
  if (thread != static_cast<std::uintptr_t>(-1)) return true;
  // The runtime may fail before the system does, leaving only errno.
  if (GetLastError() == ERROR_SUCCESS)
    SetLastError(errno == EINVAL ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY);
  return false;
}

handle create_thread(thread_routine routine, void* argument, std::uint64_t stack_size,
                     std::uint32_t& thread_id) noexcept {
  if (stack_size != static_cast<SIZE_T>(stack_size)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* start = new (std::nothrow) held_start{routine, argument};
  if (start == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  DWORD id = 0;
  HANDLE const thread =
      CreateThread(nullptr, static_cast<SIZE_T>(stack_size), run_held, start, 0, &id);
  if (thread == nullptr) {
    DWORD const code = GetLastError();
    delete start;
    SetLastError(code);
    return nullptr;
  }
  thread_id = id;
  return thread;
}

bool thread_exit_code(handle h, std::uint32_t& code) noexcept {
  DWORD result = 0;
  if (GetExitCodeThread(h, &result) == FALSE) return false;
  code = result;
  return true;
}

}  // namespace wygl::os
