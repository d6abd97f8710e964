// qmgl_env.h - reading the process environment.
//
// Example:
//
//   if (char const* home = qmgl_env_get("HOME")) { ... }
//
// The library itself reads no configuration; this is for its hosts.

#ifndef WYGL_QMGL_ENV_H
#define WYGL_QMGL_ENV_H

#include <wygl/wygl_export.h>

// The value of the environment variable name, or null when it is not set or name is null.
// The text belongs to the runtime's environment block: it stays valid until the environment
// is changed. Raises nothing. Thread safety: safe against other readers, not against a thread
// that changes the environment at the same time.
WYGL_API char const* qmgl_env_get(char const* name) noexcept;

#endif  // WYGL_QMGL_ENV_H
