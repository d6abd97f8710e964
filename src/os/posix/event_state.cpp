#include "os/posix/event_state.h"

#include <cerrno>

#include "os/kernel_object.h"
#include "os/last_error.h"
#include "os/posix/deadline.h"
#include "os/posix/errno_map.h"

namespace wygl::os {
namespace {

// The mutex guards only the flag and the count, which are consistent after every store: a
// holder that died leaves nothing to repair.
int lock_guard_mutex(pthread_mutex_t& mutex) noexcept {
  int const result = pthread_mutex_lock(&mutex);
  if (result == EOWNERDEAD) return pthread_mutex_consistent(&mutex);
  return result;
}

int sleep_until_changed(event_state& state, std::uint32_t timeout_ms,
                        timespec const& deadline) noexcept {
  int result = timeout_ms == wait_forever
                   ? pthread_cond_wait(&state.changed, &state.mutex)
                   : pthread_cond_timedwait(&state.changed, &state.mutex, &deadline);
  if (result == EOWNERDEAD) result = pthread_mutex_consistent(&state.mutex);
  return result;
}

int initialize_guard_mutex(pthread_mutex_t& mutex, bool process_shared) noexcept {
  pthread_mutexattr_t attributes;
  int error = pthread_mutexattr_init(&attributes);
  if (error != 0) return error;
  error = pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
  if (error == 0 && process_shared)
    error = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  if (error == 0) error = pthread_mutex_init(&mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
  return error;
}

int initialize_condition(pthread_cond_t& condition, bool process_shared) noexcept {
  pthread_condattr_t attributes;
  int error = pthread_condattr_init(&attributes);
  if (error != 0) return error;
  error = pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  if (error == 0 && process_shared)
    error = pthread_condattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  if (error == 0) error = pthread_cond_init(&condition, &attributes);
  pthread_condattr_destroy(&attributes);
  return error;
}

bool fail_with(int error) noexcept {
  set_last_error(windows_error_from_errno(error));
  return false;
}

}  // namespace

int initialize_event_state(event_state& state, bool process_shared, bool initially_set) noexcept {
  state.is_set = initially_set ? 1 : 0;
  state.sets = 0;
  int error = initialize_guard_mutex(state.mutex, process_shared);
  if (error != 0) return error;
  error = initialize_condition(state.changed, process_shared);
  if (error != 0) pthread_mutex_destroy(&state.mutex);
  return error;
}

void destroy_event_state(event_state& state) noexcept {
  pthread_cond_destroy(&state.changed);
  pthread_mutex_destroy(&state.mutex);
}

std::uint32_t wait_event(event_state& state, std::uint32_t timeout_ms) noexcept {
  timespec deadline{};
  if (timeout_ms != wait_forever && timeout_ms != 0)
    deadline = monotonic_deadline_after(timeout_ms);
  int result = lock_guard_mutex(state.mutex);
  if (result != 0) {
    fail_with(result);
    return wait_failed;
  }
  std::uint32_t const sets_at_start = state.sets;
  std::uint32_t outcome = wait_obtained;
  while (state.is_set == 0 && state.sets == sets_at_start) {
    if (timeout_ms == 0) {
      outcome = wait_timed_out;
      break;
    }
    result = sleep_until_changed(state, timeout_ms, deadline);
    if (result == ETIMEDOUT) {
      if (state.is_set == 0 && state.sets == sets_at_start) outcome = wait_timed_out;
      break;
    }
    if (result != 0) {
      fail_with(result);
      outcome = wait_failed;
      break;
    }
  }
  pthread_mutex_unlock(&state.mutex);
  return outcome;
}

bool set_event_state(event_state& state) noexcept {
  int const result = lock_guard_mutex(state.mutex);
  if (result != 0) return fail_with(result);
  state.is_set = 1;
  ++state.sets;
  pthread_cond_broadcast(&state.changed);
  pthread_mutex_unlock(&state.mutex);
  return true;
}

bool reset_event_state(event_state& state) noexcept {
  int const result = lock_guard_mutex(state.mutex);
  if (result != 0) return fail_with(result);
  state.is_set = 0;
  pthread_mutex_unlock(&state.mutex);
  return true;
}

}  // namespace wygl::os
