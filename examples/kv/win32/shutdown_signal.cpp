// The Windows half of shutdown_signal.h: a console control handler, which the system calls on
// a thread of its own.

#include "shutdown_signal.h"

#include <atomic>

#include <windows.h>

namespace {

void (*stop_function)(void*) = nullptr;
void* stop_context = nullptr;
std::atomic<bool> stopping{false};

BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      if (stopping.exchange(true)) ExitProcess(130);
      stop_function(stop_context);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void hold_shutdown_signals() {}

void watch_for_shutdown(void (*on_stop)(void*), void* context) {
  stop_function = on_stop;
  stop_context = context;
  SetConsoleCtrlHandler(on_console_event, TRUE);
}
