// Thread objects that hold their thread: start it, wait for its end, read its exit code.
//
// These classes are the library's own and are not exported. The task doer and the timer make
// their threads through the platform seam directly; these remain for code that needs a thread
// it can wait for:
//
//   std::uint32_t count(void* text) { ...; return 42; }
//
//   qmgl_thread_async worker(count, &text);   // runs at once
//   if (worker.wait(5000)) { ... }           // true: still running after 5 s
//   worker.wait();                           // until it ends
//   worker.get_exit_code();                  // 42
//
// Every failure raises with the file name "src/qmgl/qmgl_thread". An object is used by one
// thread at a time; the started thread shares only what the argument points to.

#ifndef WYGL_SRC_QMGL_QMGL_THREAD_OBJECT_H
#define WYGL_SRC_QMGL_QMGL_THREAD_OBJECT_H

#include <cstdint>

#include <wygl/qmgl_ban.h>
#include <wygl/wytr.h>

// The stack size qmgl_pl_thread asks for when stack_size is requested: 8192 below 8192,
// otherwise the next multiple of 4096 above stack_size.
std::uint64_t qmgl_pl_thread_stack_size(unsigned int stack_size) noexcept;

// Writes (0x061E0000, 0x14020000, object) at construction and (0x061F0000, ...) at
// destruction when level 0x800 is enabled; the constructor with a routine gives its record
// the text "%p, %p" with the routine and the argument.
//
// Cannot be copied or assigned: it owns its thread's handle.
struct qmgl_thread : qmgl_ban_assignment,
                     wytr_class<wytr::kind_word(wytr::kind::constructed), wytr::level::lifetime,
                                wytr::tp::thread_lifetime, qmgl_thread> {
  // The routine of a thread: its result becomes the thread's exit code. It must not let an
  // exception escape.
  using routine_type = std::uint32_t (*)(void* argument);

  // No thread.
  qmgl_thread() noexcept;

  // Starts routine(argument) on a new thread with the platform's default stack; it runs at
  // once. Raises exc_unmapped_t with the system's error when no thread can be started.
  qmgl_thread(routine_type routine, void* argument);

  qmgl_thread(qmgl_thread const&) = delete;

  // Gives up the thread's handle, if one is held; neither waits for the thread nor stops it.
  virtual ~qmgl_thread();

  // The exit code of a thread that has been waited for (the routine's result), 0 when there
  // was none. Raises exc_object_busy_t ("exc_object_busy") while the handle is held: before
  // a wait has seen the thread's end.
  std::uint32_t get_exit_code() const;

  // Waits without limit for the thread's end, collects its exit code and gives up the
  // handle. Without a held handle (none started, or already collected) raises exc_unmapped_t
  // with ERROR_INVALID_HANDLE (6). Raises exc_should_not_execute_t
  // ("exc_should_not_execute") when the wait ends in another way or the exit code cannot be
  // read.
  void wait();

  // As wait(), waiting at most timeout milliseconds (-1, all bits set: no limit; only the low
  // 32 bits count). Returns true, changing nothing, when the thread still runs at the limit;
  // false after collecting its end.
  bool wait(long timeout);

 protected:
  void* _thread_handle;      // null when no handle is held
  std::uint32_t _exit_code;  // 0 until collected
  std::uint32_t _thread_id;

 private:
  bool collect(std::uint32_t timeout_ms);
};

// Starts the thread and returns from its constructor only after the thread's end, with the
// exit code collected. Raises as qmgl_thread(routine, argument) and wait().
struct qmgl_thread_sync : qmgl_thread {
  qmgl_thread_sync(routine_type routine, void* argument);
};

// Starts the thread and returns at once.
struct qmgl_thread_async : qmgl_thread {
  qmgl_thread_async(routine_type routine, void* argument);
};

#endif  // WYGL_SRC_QMGL_QMGL_THREAD_OBJECT_H
