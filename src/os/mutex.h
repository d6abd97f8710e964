// Mutexes: owned by one thread at a time, recursive for their owner, abandoned when their
// owner ends while holding them (the next waiter obtains them with wait_abandoned).
// Taken with wait_for (os/kernel_object.h).

#ifndef WYGL_SRC_OS_MUTEX_H
#define WYGL_SRC_OS_MUTEX_H

#include "os/kernel_object.h"

namespace wygl::os {

// A mutex of this process alone, not held.
handle create_mutex() noexcept;

// Creates the named mutex, not held, or finds the one that exists under that name. A null or
// empty name creates a mutex of this process alone.
creation create_named_mutex(char const* name) noexcept;

// Opens the named mutex that exists.
handle open_named_mutex(char const* name) noexcept;

// Releases one hold of the calling thread. A thread that does not hold the mutex gets false
// with ERROR_NOT_OWNER (288).
bool release_mutex(handle h) noexcept;

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_MUTEX_H
