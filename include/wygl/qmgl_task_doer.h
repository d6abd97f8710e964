// qmgl_task_doer.h - a worker thread that runs queued pieces of work in order.
//
// A piece of work is a class derived from qmgl_task_message_base. add_task queues a copy of it
// (made by its clone) and returns at once; the worker thread runs the copies one at a time,
// oldest first, and deletes each after it has run:
//
//   struct log_line : qmgl_task_message_base {
//     std::string text;
//     explicit log_line(std::string t) : text(std::move(t)) {}
//     void execute() override { write_to_journal(text); }
//     qmgl_task_message_base* clone() const override { return new log_line(*this); }
//   };
//
//   qmgl_task_doer journal;           // the worker runs at once
//   journal.add_task(log_line("started"));
//   ...
//   // the destructor stops the worker and runs what is still queued
//
// Suspending the worker (suspend, or a task doer made with start 0) holds it back between
// messages: a message that is running finishes, and no further one starts until run.
//
// Trace records (tracepoints 0x1422xx00): entry and exit of the constructor (01), the
// destructor (02), run (04), suspend (05), terminate (06) and the worker's procedure (07) at
// level 0x1000, naming the task doer; error texts (level 0x8) "In catch ERROR\n" where an
// exception is caught, "ERROR CreateThread rc=%d\n%S", "ERROR ResumeThread rc=%d\n%S",
// "ERROR SuspendThread rc=%d\n%S" with a system error and its text, and
// "In destructor there %d messags to be executed\n"; the resource event (level 0x4000)
// "Thread Started with ID:%d\n".

#ifndef WYGL_QMGL_TASK_DOER_H
#define WYGL_QMGL_TASK_DOER_H

#include <atomic>
#include <cstdint>
#include <deque>

#include <wygl/qmgl_sync.h>
#include <wygl/wygl_export.h>

// A piece of work for a task doer. It has no fields; derived classes carry the work's data.
struct WYGL_API qmgl_task_message_base {
  qmgl_task_message_base() noexcept = default;
  qmgl_task_message_base(qmgl_task_message_base const&) noexcept = default;
  qmgl_task_message_base& operator=(qmgl_task_message_base const&) noexcept = default;

  // The task doer deletes its copies through this destructor.
  virtual ~qmgl_task_message_base();

  // Does the work. Called at most once on each copy: on the worker thread, or, for copies
  // still queued when the task doer is destroyed, on the destroying thread. An exception that
  // leaves it on the worker ends the worker (see qmgl_task_doer), and some copies queued
  // before it then never run.
  virtual void execute() = 0;

  // A new copy of this message on the heap, which the task doer owns from then on and deletes
  // after running it. Called on the thread that calls add_task.
  virtual qmgl_task_message_base* clone() const = 0;
};

// One worker thread and the queue of its messages.
//
// The worker takes everything queued at once, as one batch, each time it wakes, and runs the
// batch oldest first. A message whose execute raises on the worker ends the worker after the
// error text "In catch ERROR\n": the messages of its batch that had not run yet are deleted
// without running, and messages queued later wait for the destructor, which runs them. How
// many messages are lost in this way depends on how the worker's batches fell, that is, on
// timing: a message that must not be lost must not follow one that can raise.
//
// Thread safety: any number of threads may call add_task at once, also while the worker runs
// messages. run, suspend, terminate and the destructor are for one controlling thread; they
// must not be called from a message that the worker runs. get_state may be called from any
// thread.
struct WYGL_API qmgl_task_doer {
  // What the controlling thread last made of the worker.
  enum STATE : std::int32_t {
    running = 0,     // started at once, or resumed by run
    suspended = 1,   // started with start 0, or held back by suspend
    terminated = 2,  // told to stop by terminate (or the destructor)
  };

  // Starts the worker thread. stack_size is not used: the worker's stack is 65536 bytes (more
  // where a thread's stack cannot grow, see qmgl_thread.h). start non-zero lets the worker run
  // at once; 0 starts it suspended, so that it runs nothing until run.
  // Raises exc_unmapped_t with code 0x20000004 after the error text
  // "ERROR CreateThread rc=%d\n%S" when no thread can be started, and what a signal or the
  // queue raise when they cannot be made.
  explicit qmgl_task_doer(int stack_size = 65536, int start = 1);

  // Stops the worker unless terminate has (as terminate does), then runs the messages still
  // queued, oldest first, on the calling thread, after the error text
  // "In destructor there %d messags to be executed\n" with their number, and deletes each.
  // A message whose execute raises here is deleted after the error text "In catch ERROR\n",
  // and the messages after it still run. Nothing may call add_task once the destructor has
  // started.
  ~qmgl_task_doer();

  qmgl_task_doer(qmgl_task_doer const&) = delete;
  qmgl_task_doer& operator=(qmgl_task_doer const&) = delete;

  // Queues message.clone() behind every message queued before and wakes the worker. The
  // caller's message is not touched after the call. Messages are also accepted after the
  // worker has ended (by terminate or by a message that raised): the destructor runs them.
  // When clone raises (or its copy cannot be queued), writes the error text
  // "In catch ERROR\n" and raises exc_unmapped_t with code 0x20000004; nothing is queued.
  // Thread safe.
  void add_task(qmgl_task_message_base const& message);

  // Lets a suspended worker go on; returns 0 and records running. A worker that runs stays
  // running (0). After terminate there is no worker left: returns ERROR_INVALID_HANDLE (6)
  // after the error text "ERROR ResumeThread rc=%d\n%S" with the code and its system text,
  // the state unchanged; so too, with the system's error, should the worker's gate fail.
  // Returns 0x20000004 after "In catch ERROR\n" for any other exception.
  int run();

  // Holds the worker back before its next message and returns 0, recording suspended: a
  // message that the worker has started, or is starting at that moment, still runs; the
  // next does not start until run. Failures as for run, with the error text
  // "ERROR SuspendThread rc=%d\n%S".
  int suspend();

  // Records terminated, wakes the worker and waits without limit for its end: it finishes the
  // batch of messages that it holds or is woken for, and ends. A suspended worker is let go
  // first, so that it can end: it then also runs the rest of the batch it holds. Messages
  // queued after the worker's last batch stay queued for the destructor. Returns 0 (also when
  // the worker has ended already), 0x20000004 after "In catch ERROR\n" when an exception was
  // caught.
  int terminate();

  STATE get_state() const noexcept { return _state.load(std::memory_order_relaxed); }

 private:
  static std::uint32_t worker_procedure(void* task_doer) noexcept;
  void work();
  void pass_gate();
  int set_gate(bool open, std::uint32_t tracepoint, char const* failure_format, STATE state);

  // Written by the controlling thread, read by the worker between batches.
  std::atomic<STATE> _state;
  void* _thread_handle;  // null after terminate
  qmgl_guard _guard;     // held while messages are moved in or out of _queue
  qmgl_sync_sema_private _wakeup;
  std::deque<qmgl_task_message_base*> _queue;  // owned clones, oldest first
  // Posted while the worker may run: it waits here before each batch and each message.
  qmgl_sync_sema_private _gate;
};

#endif  // WYGL_QMGL_TASK_DOER_H
