// Threads: started and forgotten, or held by a handle.
//
// A held thread's handle is a kernel object handle (os/kernel_object.h): wait_for on it is
// obtained once the thread has ended, and close_handle gives it up without stopping the
// thread. Every failing call returns a null handle or false and leaves the reason in the
// calling thread's last error (os/last_error.h), in Windows numbering.

#ifndef WYGL_SRC_OS_THREAD_H
#define WYGL_SRC_OS_THREAD_H

#include <cstdint>

#include "os/kernel_object.h"

namespace wygl::os {

// The routine of a held thread: its result becomes the thread's exit code. It must not let an
// exception escape.
using thread_routine = std::uint32_t (*)(void* argument);

// The exit code a thread reports while it runs (STILL_ACTIVE).
inline constexpr std::uint32_t thread_still_active = 259;

// The stack the backend gives a thread for which `requested` bytes were asked (0: the
// platform's default).
//
// Windows takes the request as the stack's first commit and reserves the program's default
// (1 MB) all the same, so the stack grows well beyond a small request; the backend passes the
// request on unchanged. A POSIX stack is fixed at its creation size, and a thread that writes
// a text trace record formats it in a 64 KB buffer on its stack: the backend therefore gives
// at least the platform's default thread stack (and never less than 256 KB, nor less than the
// platform's PTHREAD_STACK_MIN), so that a small request cannot make such a thread overflow.
std::uint64_t thread_stack_size(std::uint64_t requested) noexcept;

// Starts routine(argument) on a new thread with thread_stack_size(stack_size) bytes of stack
// and keeps nothing of it; the thread ends when the routine returns.
bool start_detached_thread(void (*routine)(void*), void* argument,
                           std::uint64_t stack_size) noexcept;

// Starts routine(argument) on a new thread, running at once, with
// thread_stack_size(stack_size) bytes of stack. Returns its handle and stores its identifier
// (non-zero, unique among the threads that run) in thread_id; null on failure.
handle create_thread(thread_routine routine, void* argument, std::uint64_t stack_size,
                     std::uint32_t& thread_id) noexcept;

// Stores the exit code of the thread of h in code: the routine's result once it has ended,
// thread_still_active before. False when h is not a thread's handle.
bool thread_exit_code(handle h, std::uint32_t& code) noexcept;

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_THREAD_H
