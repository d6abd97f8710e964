// The one header of the library that includes the Windows API.

#ifndef WYGL_SRC_OS_WIN32_WINDOWS_API_H
#define WYGL_SRC_OS_WIN32_WINDOWS_API_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <windows.h>
#include <winsock2.h>

#endif  // WYGL_SRC_OS_WIN32_WINDOWS_API_H
