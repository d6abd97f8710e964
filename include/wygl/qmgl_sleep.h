// qmgl_sleep.h - suspending the calling thread.
//
// Example:
//
//   qmgl_sleep(2);  // at least 2 milliseconds
//
// Thread safety: suspends only the thread that calls it.

#ifndef WYGL_QMGL_SLEEP_H
#define WYGL_QMGL_SLEEP_H

#include <wygl/wygl_export.h>

// Suspends the calling thread for at least ms milliseconds; signals delivered meanwhile do not
// cut the wait short. 0 gives up the rest of the thread's time slice and returns. A negative
// ms returns at once: a wait of no time, never a wait without end. Raises nothing.
WYGL_API void qmgl_sleep(int ms) noexcept;

#endif  // WYGL_QMGL_SLEEP_H
