#include "os/event.h"

#include "os/win32/everyone_attributes.h"
#include "os/win32/windows_api.h"

namespace wygl::os {
namespace {
constexpr DWORD event_all_access = 0x1F0003;
}  // namespace

handle create_event(bool initially_set) noexcept {
  return CreateEventA(nullptr, TRUE, initially_set ? TRUE : FALSE, nullptr);
}

creation create_named_event(char const* name, bool initially_set) noexcept {
  everyone_attributes attributes;
  if (attributes.get() == nullptr) return {nullptr, false};
  SetLastError(ERROR_SUCCESS);
  HANDLE const event = CreateEventA(attributes.get(), TRUE, initially_set ? TRUE : FALSE, name);
  return {event, event != nullptr && GetLastError() == ERROR_ALREADY_EXISTS};
}

handle open_named_event(char const* name) noexcept {
  return OpenEventA(event_all_access, FALSE, name);
}

bool set_event(handle h) noexcept {
  return SetEvent(h) != FALSE;
}

bool reset_event(handle h) noexcept {
  return ResetEvent(h) != FALSE;
}

}  // namespace wygl::os
