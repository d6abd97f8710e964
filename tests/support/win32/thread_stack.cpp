// The Windows half of thread_stack.h: the low end of the stack's reservation, whose last
// pages the system keeps as a guard.

#include "support/thread_stack.h"

#include <windows.h>

std::uintptr_t stack_floor_of_this_thread() {
  ULONG_PTR low = 0;
  ULONG_PTR high = 0;
  GetCurrentThreadStackLimits(&low, &high);
  return static_cast<std::uintptr_t>(low);
}
