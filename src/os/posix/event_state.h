// The state of a manual-reset event, in process memory or in a shared segment: a flag and a
// count of the times it was set, guarded by a robust pthread mutex, and a condition variable
// on the monotonic clock that waiters sleep on.

#ifndef WYGL_SRC_OS_POSIX_EVENT_STATE_H
#define WYGL_SRC_OS_POSIX_EVENT_STATE_H

#include <cstdint>

#include <pthread.h>

namespace wygl::os {

struct event_state {
  pthread_mutex_t mutex;
  pthread_cond_t changed;
  std::int32_t is_set;
  // Counts the sets, so that a waiter present at a set is released even when a reset follows
  // before it runs again, as a Windows event releases every thread waiting when it is set.
  std::uint32_t sets;
};

// Returns 0 or an errno.
int initialize_event_state(event_state& state, bool process_shared, bool initially_set) noexcept;
void destroy_event_state(event_state& state) noexcept;

// As wait_for (os/kernel_object.h) on an event: wait_obtained, wait_timed_out or wait_failed.
std::uint32_t wait_event(event_state& state, std::uint32_t timeout_ms) noexcept;

bool set_event_state(event_state& state) noexcept;
bool reset_event_state(event_state& state) noexcept;

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_POSIX_EVENT_STATE_H
