// What the task doer and the timer share: each owns one thread of its own, started with a
// 65536-byte stack, and reports an exception that it catches with the error text
// "In catch ERROR\n" and the library code 0x20000004.

#ifndef WYGL_SRC_QMGL_QMGL_WORKER_H
#define WYGL_SRC_QMGL_QMGL_WORKER_H

#include <cstdint>

#include "os/thread.h"
#include "wytr/wytr_scope.h"

namespace wygl::worker {

// The code returned, raised or made the thread's exit code after an exception was caught.
inline constexpr unsigned long caught_exception = 0x20000004;

// Writes the error text "In catch ERROR\n" (level 0x8) from scope, or at tracepoint for
// object where an operation has no scope of its own.
void note_caught(wytr::operation_scope const& scope) noexcept;
void note_caught(std::uint32_t tracepoint, void const* object) noexcept;

// Raises exc_unmapped_t with code 0x20000004 (and the system's text for it, which has none)
// from the given file and line: how an operation reports an exception that it caught.
[[noreturn]] void raise_caught(char const* source_file, int source_line);

// Starts routine(owner) on a new thread with a 65536-byte stack; returns its handle and stores
// its identifier in thread_id. When no thread can be started, writes the error text
// "ERROR CreateThread rc=%d\n%S" with the system's error from scope and raises
// exc_unmapped_t with code 0x20000004 and the given file and line.
void* start_thread(wytr::operation_scope const& scope, os::thread_routine routine, void* owner,
                   std::uint32_t& thread_id, char const* source_file, int source_line);

}  // namespace wygl::worker

#endif  // WYGL_SRC_QMGL_QMGL_WORKER_H
