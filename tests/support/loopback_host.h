// What the socket tests need from the system beside the library: a free loopback port, the
// host name, and environment variables that programs started by the test inherit. One half
// for each platform (support/posix, support/win32).

#ifndef WYGL_TESTS_SUPPORT_LOOPBACK_HOST_H
#define WYGL_TESTS_SUPPORT_LOOPBACK_HOST_H

#include <string>

// A TCP port of 127.0.0.1 that nothing used when it was asked for: the system's choice for a
// socket bound to port 0, which is closed again at once. Throws std::runtime_error when the
// system gives none.
unsigned short free_loopback_port();

// This machine's host name, as the socket layer gives it (gethostname).
std::string this_host_name();

// Sets (value not null) or removes an environment variable of this process, for the library
// and for every program the process starts later.
void set_environment_value(char const* name, char const* value);

#endif  // WYGL_TESTS_SUPPORT_LOOPBACK_HOST_H
