// Manual-reset events: once set, every wait succeeds until the event is reset.
// Waited for with wait_for (os/kernel_object.h).

#ifndef WYGL_SRC_OS_EVENT_H
#define WYGL_SRC_OS_EVENT_H

#include "os/kernel_object.h"

namespace wygl::os {

// An event of this process alone, set exactly when initially_set.
handle create_event(bool initially_set) noexcept;

// Creates the named event, set exactly when initially_set, or finds the one that exists under
// that name (its state then stays as it is). A null or empty name creates an event of this
// process alone.
creation create_named_event(char const* name, bool initially_set) noexcept;

// Opens the named event that exists.
handle open_named_event(char const* name) noexcept;

// Sets the event, releasing every waiter.
bool set_event(handle h) noexcept;

// Clears the event.
bool reset_event(handle h) noexcept;

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_EVENT_H
