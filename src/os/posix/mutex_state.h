// The state of a named mutex, in a shared segment: a robust, recursive, process-shared pthread
// mutex and a record of its holder.
//
// Robust: when the holding thread or its process ends, the kernel marks the mutex, and the
// next taker obtains it with EOWNERDEAD, which is the abandoned outcome; the taker marks it
// consistent and holds it. The holder record (process and thread) lets a release by another
// thread fail as on Windows, and tells a closing handle whether this process still holds
// the mutex.

#ifndef WYGL_SRC_OS_POSIX_MUTEX_STATE_H
#define WYGL_SRC_OS_POSIX_MUTEX_STATE_H

#include <atomic>
#include <cstdint>

#include <pthread.h>

namespace wygl::os {

struct mutex_state {
  pthread_mutex_t mutex;
  // The holder: process id in the high half, thread id in the low half; 0 when free.
  std::atomic<std::uint64_t> holder;
  // How often the holder has taken it; written by the holder only.
  std::int32_t depth;
};

// Prepares a free mutex. Returns 0 or an errno.
int initialize_mutex_state(mutex_state& state) noexcept;

// As wait_for (os/kernel_object.h) on a mutex.
std::uint32_t take_mutex(mutex_state& state, std::uint32_t timeout_ms) noexcept;

// As release_mutex (os/mutex.h).
bool give_mutex(mutex_state& state) noexcept;

// Whether a thread of this process holds the mutex now.
bool held_in_this_process(mutex_state const& state) noexcept;

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_POSIX_MUTEX_STATE_H
