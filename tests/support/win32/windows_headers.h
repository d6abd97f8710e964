// The Windows API for the Windows halves of the test support, without the rarely used parts
// of <windows.h> and its min/max macros.

#ifndef WYGL_TESTS_SUPPORT_WIN32_WINDOWS_HEADERS_H
#define WYGL_TESTS_SUPPORT_WIN32_WINDOWS_HEADERS_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <windows.h>
#include <winsock2.h>

#endif  // WYGL_TESTS_SUPPORT_WIN32_WINDOWS_HEADERS_H
