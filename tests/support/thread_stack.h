// The stack of the calling thread as the system reports it. One half for each platform
// (support/posix, support/win32).

#ifndef WYGL_TESTS_SUPPORT_THREAD_STACK_H
#define WYGL_TESTS_SUPPORT_THREAD_STACK_H

#include <cstdint>

// The lowest address of the calling thread's stack region: the stack can grow to within a
// few pages of it. 0 when the system does not tell.
std::uintptr_t stack_floor_of_this_thread();

#endif  // WYGL_TESTS_SUPPORT_THREAD_STACK_H
