// qmgl_thread.h - starting a thread that runs on its own.
//
// qmgl_pl_thread starts a routine on a new thread and keeps nothing of it: the thread cannot
// be waited for, and it ends when the routine returns. Whatever the routine shares with its
// starter goes through the argument, and the routine itself tells the starter when it is done
// (a signal of qmgl_sync.h, for example):
//
//   void serve(void* job) { ...; static_cast<job_t*>(job)->done.post(); }
//
//   qmgl_pl_thread start(serve, &job, 0);  // a stack of at least 8192 bytes
//   job.done.wait(60000);
//
// Thread safety: starting threads needs no lock; any number of threads may start threads at
// once. The object itself carries nothing.

#ifndef WYGL_QMGL_THREAD_H
#define WYGL_QMGL_THREAD_H

#include <wygl/wygl_export.h>

struct WYGL_API qmgl_pl_thread {
  // Starts routine(argument) on a new thread, which runs on its own from then on. The stack
  // has at least 8192 bytes: a request below 8192 gets 8192, any other request the next
  // multiple of 4096 above it (8192 gets 12288, 10000 gets 12288). This is a minimum: where
  // a thread's stack cannot grow (POSIX), the thread gets at least the platform's default
  // thread stack, because the library's own trace records need more than 8192 bytes.
  //
  // Raises exc_unmapped_t with the system's error (ERROR_NOT_ENOUGH_MEMORY, 8, when the
  // system lacks the resources) and file "src/qmgl/qmgl_thread" when no thread can be
  // started; the routine is then never called. The routine must not let an exception escape.
  qmgl_pl_thread(void (*routine)(void*), void* argument, unsigned int stack_size);

  // Does nothing: the thread runs on.
  ~qmgl_pl_thread();

  // Copies nothing.
  qmgl_pl_thread& operator=(qmgl_pl_thread const&) noexcept { return *this; }
  qmgl_pl_thread(qmgl_pl_thread const&) noexcept = default;
};

#endif  // WYGL_QMGL_THREAD_H
