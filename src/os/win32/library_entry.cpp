// The DLL entry point. The runtime has constructed the library's static objects before it is
// called. Per-thread attach and detach notifications are turned off: the library keeps no
// per-thread state that would need them, and threads start and end faster without.

#include "os/win32/windows_api.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
