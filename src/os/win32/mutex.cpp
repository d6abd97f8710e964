#include "os/mutex.h"

#include "os/win32/everyone_attributes.h"
#include "os/win32/windows_api.h"

namespace wygl::os {
namespace {
constexpr DWORD mutex_all_access = 0x1F0001;
}  // namespace

handle create_mutex() noexcept {
  return CreateMutexA(nullptr, FALSE, nullptr);
}

creation create_named_mutex(char const* name) noexcept {
  everyone_attributes attributes;
  if (attributes.get() == nullptr) return {nullptr, false};
  SetLastError(ERROR_SUCCESS);
  HANDLE const mutex = CreateMutexA(attributes.get(), FALSE, name);
  return {mutex, mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS};
}

handle open_named_mutex(char const* name) noexcept {
  return OpenMutexA(mutex_all_access, FALSE, name);
}

bool release_mutex(handle h) noexcept {
  return ReleaseMutex(h) != FALSE;
}

}  // namespace wygl::os
