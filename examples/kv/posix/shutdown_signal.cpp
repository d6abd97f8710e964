// The POSIX half of shutdown_signal.h: the stop signals are blocked everywhere and taken with
// sigwait by one watcher thread, so that the program's stop runs as ordinary code, not in a
// signal handler.

#include "shutdown_signal.h"

#include <csignal>
#include <cstdlib>

#include <pthread.h>

#include <wygl/qmgl_thread.h>

namespace {

struct watch {
  void (*on_stop)(void*);
  void* context;
};

sigset_t stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

void watcher(void* argument) {
  watch const w = *static_cast<watch*>(argument);
  delete static_cast<watch*>(argument);
  sigset_t const set = stop_signals();
  bool stopping = false;
  for (;;) {
    int taken = 0;
    if (sigwait(&set, &taken) != 0) continue;
    if (stopping) std::_Exit(130);
    stopping = true;
    w.on_stop(w.context);
  }
}

}  // namespace

void hold_shutdown_signals() {
  sigset_t const set = stop_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

void watch_for_shutdown(void (*on_stop)(void*), void* context) {
  qmgl_pl_thread(watcher, new watch{on_stop, context}, 0);
}
