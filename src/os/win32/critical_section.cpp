#include "os/critical_section.h"

#include <new>

#include "os/win32/windows_api.h"

namespace wygl::os {
namespace {

static_assert(sizeof(CRITICAL_SECTION) <= critical_section_size);
static_assert(alignof(CRITICAL_SECTION) <= critical_section_alignment);

CRITICAL_SECTION* section_in(void* storage) noexcept {
  return static_cast<CRITICAL_SECTION*>(storage);
}

}  // namespace

void initialize_critical_section(void* storage) noexcept {
  InitializeCriticalSection(new (storage) CRITICAL_SECTION);
}

void delete_critical_section(void* storage) noexcept {
  DeleteCriticalSection(section_in(storage));
}

void enter_critical_section(void* storage) noexcept {
  EnterCriticalSection(section_in(storage));
}

void leave_critical_section(void* storage) noexcept {
  LeaveCriticalSection(section_in(storage));
}

}  // namespace wygl::os
