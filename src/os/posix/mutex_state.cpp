#include "os/posix/mutex_state.h"

#include <cerrno>
#include <ctime>

#include <unistd.h>

#include "os/error_codes.h"
#include "os/kernel_object.h"
#include "os/last_error.h"
#include "os/posix/deadline.h"
#include "os/posix/errno_map.h"

namespace wygl::os {
namespace {

std::uint64_t this_thread_identity() noexcept {
  thread_local std::uint64_t const identity =
      (static_cast<std::uint64_t>(static_cast<std::uint32_t>(getpid())) << 32) |
      static_cast<std::uint32_t>(gettid());
  return identity;
}

std::uint32_t this_process_part() noexcept {
  return static_cast<std::uint32_t>(this_thread_identity() >> 32);
}

#if defined(__SANITIZE_THREAD__)
#define WYGL_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define WYGL_THREAD_SANITIZER 1
#endif
#endif

#if defined(WYGL_THREAD_SANITIZER)
// ThreadSanitizer does not see pthread_mutex_clocklock: it would miss the locks taken so and
// report their release as wrong. Under it, a timed wait tries pthread_mutex_trylock, which it
// sees, every millisecond until the deadline.
int lock_until(pthread_mutex_t& mutex, timespec const& deadline) noexcept {
  timespec const pause{0, 1000000};
  for (;;) {
    int const result = pthread_mutex_trylock(&mutex);
    if (result != EBUSY) return result;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec > deadline.tv_sec ||
        (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec))
      return ETIMEDOUT;
    nanosleep(&pause, nullptr);
  }
}
#else
int lock_until(pthread_mutex_t& mutex, timespec const& deadline) noexcept {
  return pthread_mutex_clocklock(&mutex, CLOCK_MONOTONIC, &deadline);
}
#endif

int lock_within(pthread_mutex_t& mutex, std::uint32_t timeout_ms) noexcept {
  if (timeout_ms == wait_forever) return pthread_mutex_lock(&mutex);
  if (timeout_ms == 0) return pthread_mutex_trylock(&mutex);
  return lock_until(mutex, monotonic_deadline_after(timeout_ms));
}

std::uint32_t fail_with_errno(int error) noexcept {
  set_last_error(windows_error_from_errno(error));
  return wait_failed;
}

}  // namespace

int initialize_mutex_state(mutex_state& state) noexcept {
  pthread_mutexattr_t attributes;
  int error = pthread_mutexattr_init(&attributes);
  if (error != 0) return error;
  error = pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  if (error == 0) error = pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
  if (error == 0) error = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  if (error == 0) error = pthread_mutex_init(&state.mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
  state.holder.store(0, std::memory_order_relaxed);
  state.depth = 0;
  return error;
}

std::uint32_t take_mutex(mutex_state& state, std::uint32_t timeout_ms) noexcept {
  int const result = lock_within(state.mutex, timeout_ms);
  std::uint64_t const me = this_thread_identity();
  switch (result) {
    case 0:
      if (state.holder.load(std::memory_order_relaxed) == me) {
        ++state.depth;
      } else {
        state.holder.store(me, std::memory_order_relaxed);
        state.depth = 1;
      }
      return wait_obtained;
    case EOWNERDEAD:
      // The holder record still names the dead holder, and its depth is void: this thread
      // now holds the mutex once.
      pthread_mutex_consistent(&state.mutex);
      state.holder.store(me, std::memory_order_relaxed);
      state.depth = 1;
      return wait_abandoned;
    case EBUSY:
    case ETIMEDOUT:
      return wait_timed_out;
    default:
      return fail_with_errno(result);
  }
}

bool give_mutex(mutex_state& state) noexcept {
  std::uint64_t const me = this_thread_identity();
  if (state.holder.load(std::memory_order_relaxed) != me) {
    set_last_error(err::not_owner);
    return false;
  }
  std::int32_t const depth = --state.depth;
  // The record is cleared before the mutex is, so that the next holder finds it free.
  if (depth == 0) state.holder.store(0, std::memory_order_relaxed);
  int const result = pthread_mutex_unlock(&state.mutex);
  if (result != 0) {
    state.depth = depth + 1;
    state.holder.store(me, std::memory_order_relaxed);
    set_last_error(result == EPERM ? err::not_owner : windows_error_from_errno(result));
    return false;
  }
  return true;
}

bool held_in_this_process(mutex_state const& state) noexcept {
  std::uint64_t const holder = state.holder.load(std::memory_order_relaxed);
  return holder != 0 && static_cast<std::uint32_t>(holder >> 32) == this_process_part();
}

}  // namespace wygl::os
