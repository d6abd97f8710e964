// The system's requests to stop the program, turned into one call of the program's own.
//
// The requests are SIGINT and SIGTERM on POSIX systems, and Ctrl+C, Ctrl+Break and the closing
// of the console on Windows. One implementation per platform, in posix/ and win32/, chosen by
// the build.

#ifndef WYGL_KV_SHUTDOWN_SIGNAL_H
#define WYGL_KV_SHUTDOWN_SIGNAL_H

// Call first in main, before any thread starts. On POSIX systems the stop signals are blocked
// here, so that the threads started later inherit the mask and only the watcher takes them;
// writing to a connection that the peer closed is made an error instead of a signal.
void hold_shutdown_signals();

// From now on, the first request to stop calls on_stop(context), on a thread that is not the
// caller's; a second request ends the process at once, with exit code 130. Call once.
void watch_for_shutdown(void (*on_stop)(void*), void* context);

#endif  // WYGL_KV_SHUTDOWN_SIGNAL_H
