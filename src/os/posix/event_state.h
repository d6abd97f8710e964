// The state of a manual-reset event, in process memory or in a shared segment: one futex word.
//
// The word holds the set flag (bit 0), a flag telling that some waiter may sleep on the word
// (bit 1), and a generation count (the other 30 bits) that each set that finds the event clear
// moves on. A waiter that saw the event clear returns as soon as the event is set or the
// generation has moved: a set releases every thread waiting at that moment even when a reset
// follows before the thread runs again, as a Windows event does. Waiters sleep with the futex
// operations (os/posix/futex.h), the shared ones for an event in a shared segment.
//
// Every change is one atomic operation on the word, and nothing is held while a thread waits:
// a thread or process that ends at any moment, waiting or setting, leaves the event whole (at
// worst with the sleeper flag set, which costs the next set one needless wake).

#ifndef WYGL_SRC_OS_POSIX_EVENT_STATE_H
#define WYGL_SRC_OS_POSIX_EVENT_STATE_H

#include <atomic>
#include <cstdint>

#include "os/posix/futex.h"

namespace wygl::os {

struct event_state {
  std::atomic<std::uint32_t> word;
};

// A new event, clear or set.
void initialize_event_state(event_state& state, bool initially_set) noexcept;

// As wait_for (os/kernel_object.h) on an event: wait_obtained, wait_timed_out or wait_failed.
std::uint32_t wait_event(event_state& state, futex_scope scope, std::uint32_t timeout_ms) noexcept;

// Sets the event and wakes every waiter.
void set_event_state(event_state& state, futex_scope scope) noexcept;

void reset_event_state(event_state& state) noexcept;

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_POSIX_EVENT_STATE_H
