// The one header of the library that includes the Windows API (the build defines
// WIN32_LEAN_AND_MEAN and NOMINMAX for every Windows target).

#ifndef WYGL_SRC_OS_WIN32_WINDOWS_API_H
#define WYGL_SRC_OS_WIN32_WINDOWS_API_H

#include <windows.h>
#include <winsock2.h>

#endif  // WYGL_SRC_OS_WIN32_WINDOWS_API_H
