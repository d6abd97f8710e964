// qmgl_sync.h - synchronisation: the interlocked counter, locks, signals, scope objects and
// the in-process critical region.
//
// qmgl_sync_value is a 32-bit signed integer shared between threads without a lock. It is the
// reference count inside every shared string body, and hosts may use it as a counter or a
// flag of their own:
//
//   qmgl_sync_value users;          // 0
//   users.increment();              // 1, returns 1
//   if (users.decrement() == 0) {}  // the thread that sees 0 frees what the count guards
//   qmgl_sync_value flag;
//   if (flag.compare_and_swap(0, 1) == 0) {}  // this thread changed the flag from 0 to 1
//
// The interface speaks `long`, as on Windows; the value itself is always 32 bits wide, also
// where `long` is 64 bits: arithmetic wraps as a 32-bit integer does (0x7FFFFFFF + 1 is
// -2147483648), and a `long` argument beyond 32 bits counts with its low 32 bits only.
//
// Thread safety: every changing operation is one atomic read-modify-write with full (sequentially
// consistent) ordering. value() and assignment are single plain-ordered (relaxed) reads and
// writes: atomic, but ordering nothing around them. The class neither raises nor traces.
//
// Locks and signals are kernel objects, private to the process or shared between processes by
// name:
//
//   qmgl_sync_lock_shared lock("app.journal", qmgl_action_create_or_open);
//   {
//     qmgl_sync_monitor hold(lock, 5000);  // exc_timeout_t after 5 s, exc_owner_died_t when
//     ...                                  // a holder ended without releasing it
//   }                                      // released here
//
//   qmgl_sync_sema_shared ready("app.ready", qmgl_action_create_or_open,
//                               qmgl_sync_sema::not_posted);
//   ready.post();                                    // in one process
//   if (ready.wait(1000) == qmgl_wait_timeout) {}    // in another
//
// A lock is a mutex: owned by one thread, re-entrant for it (release once per request), and
// abandoned when its owner ends while holding it; the next request then obtains it and reports
// qmgl_wait_abandoned. A signal is a manual-reset event (not a counting semaphore): once posted
// it releases every waiter, present and later, until it is reset.
//
// Named objects share one name space with each other and with shared memory (qmgl_mem.h): a
// name that exists as another kind of object cannot be created or opened (exc_unmapped_t with
// ERROR_INVALID_HANDLE, 6). A named object lives while any process holds a handle to it; the
// last close destroys it, and one whose holders were all killed is gone as well (on POSIX
// systems its memory is freed by the first create or open of any named object in a process,
// and by later ones at most a second apart). Objects created by name may be used by every
// user of the machine. On POSIX systems, where the library keeps the name space itself, a
// create or open that cannot have the name space within 5 s (a process stopped in the middle
// of one) raises exc_unmapped_t with ERROR_TIMEOUT (1460).
//
// Failures raise exceptions of the exc_t tree (qmgl_exc.h) with the file name
// "src/qmgl/qmgl_sync": system errors as exc_unmapped_t with the system's number and text, an
// existing name under qmgl_action_create as exc_already_exists_t ("exc_already_exists"), a
// wait result without meaning as exc_should_not_execute_t ("exc_should_not_execute"). The
// classes write no trace records.

#ifndef WYGL_QMGL_SYNC_H
#define WYGL_QMGL_SYNC_H

#include <atomic>
#include <cstdint>

#include <wygl/qmgl_ban.h>
#include <wygl/wygl_export.h>

struct qmgl_sync_value {
  // Value 0.
  qmgl_sync_value() noexcept : _value(0) {}
  // Value v (its low 32 bits).
  qmgl_sync_value(long v) noexcept : _value(narrow(v)) {}  // NOLINT: implicit, as documented
  // A new counter holding the other's value, read as value() reads it.
  qmgl_sync_value(qmgl_sync_value const& other) noexcept : _value(other.value_32()) {}

  // A plain copy of the other's value (one relaxed read, one relaxed write; not one atomic
  // step). Returns *this.
  qmgl_sync_value& operator=(qmgl_sync_value const& other) noexcept {
    _value.store(other.value_32(), std::memory_order_relaxed);
    return *this;
  }

  // The value, read without ordering.
  long value() const noexcept { return value_32(); }
  // The value, read with acquire ordering: whatever a thread did before it changed the value
  // with one of the interlocked operations below happens before what the reader does after.
  // A reference count read as 1 this way proves that the other holders are done with the
  // counted object.
  long value_acquire() const noexcept { return _value.load(std::memory_order_acquire); }

  // Adds 1; returns the new value.
  long increment() noexcept { return wrap_add(_value.fetch_add(1, std::memory_order_seq_cst), 1); }

  // Subtracts 1; returns the new value. A reference count is released by the thread for which
  // this returns 0.
  long decrement() noexcept { return wrap_add(_value.fetch_sub(1, std::memory_order_seq_cst), -1); }

  // Stores v; returns the value before.
  long swap(long v) noexcept { return _value.exchange(narrow(v), std::memory_order_seq_cst); }

  // Adds v; returns the new value (the value before + v, wrapped to 32 bits).
  long add(long v) noexcept {
    std::int32_t const n = narrow(v);
    return wrap_add(_value.fetch_add(n, std::memory_order_seq_cst), n);
  }

  // If the value equals `expected`, stores `replacement`. Returns the value before, whether or
  // not it was replaced.
  long compare_and_swap(long expected, long replacement) noexcept {
    std::int32_t before = narrow(expected);
    _value.compare_exchange_strong(before, narrow(replacement), std::memory_order_seq_cst,
                                   std::memory_order_seq_cst);
    return before;
  }

 private:
  static std::int32_t narrow(long v) noexcept {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
  }
  static std::int32_t wrap_add(std::int32_t a, std::int32_t b) noexcept {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
  }
  std::int32_t value_32() const noexcept { return _value.load(std::memory_order_relaxed); }

  std::atomic<std::int32_t> _value;
};

// The outcome of a wait for a lock or a signal.
enum qmgl_wait_error_indicator : std::int32_t {
  qmgl_wait_no_error = 0,   // the object was obtained
  qmgl_wait_timeout = 1,    // the time limit passed first
  qmgl_wait_abandoned = 2,  // the lock was obtained, but its previous owner ended holding it
  qmgl_wait_failed = 3,     // the wait itself failed
};

// What a constructor of a named object does. Bit 0 (1) creates the object, clear opens one that
// exists; bit 1 (2) lets a create find the object existing and open it, clear makes that an
// error (exc_already_exists_t).
enum qmgl_action_indicator : std::int32_t {
  qmgl_action_open = 0,
  qmgl_action_create = 1,
  qmgl_action_create_or_open = 3,
};

// The root of the kernel-object wrappers. Not copyable.
struct WYGL_API qmgl_sync : qmgl_ban_copy_and_assignment {
  virtual ~qmgl_sync();

 protected:
  qmgl_sync() noexcept = default;
};

// A wrapper that owns one kernel object's handle.
struct WYGL_API qmgl_sync_imp : qmgl_sync {
  // Closes the handle (its result is not examined).
  ~qmgl_sync_imp() override;

 protected:
  // Takes over handle, which is valid.
  explicit qmgl_sync_imp(void* handle) noexcept : _handle(handle) {}

  // The kernel object's handle: the HANDLE on Windows, the library's own record elsewhere.
  void* _handle;
};

// A mutual-exclusion lock (a mutex). The owning thread may request it again without blocking
// and must release it once per request; only the owner may release it.
//
// Thread safety: any number of threads (and, for a shared lock, processes) may request and
// release one lock at once. The outcome recorded by a request is the last one of any thread;
// the monitors read it right after their own request, while they hold the lock.
struct WYGL_API qmgl_sync_lock : qmgl_sync_imp {
  ~qmgl_sync_lock() override;

  // Waits without limit for the lock and records the outcome: qmgl_wait_no_error, or
  // qmgl_wait_abandoned when its owner ended holding it (the lock is then held all the same,
  // and nothing is raised). A failed wait records qmgl_wait_failed and raises exc_unmapped_t
  // with the system's error (exc_should_not_execute_t when the system gives none); any other
  // result of the wait records qmgl_wait_failed and raises exc_should_not_execute_t.
  virtual void request();

  // As request(), waiting at most timeout milliseconds: -1 (all bits set) waits without limit,
  // 0 only tries. Only the low 32 bits of timeout count. Records and returns the outcome,
  // qmgl_wait_timeout included (the lock is then not held); raises as request().
  virtual qmgl_wait_error_indicator request(long timeout);

  // Gives back one request of the calling thread. Raises exc_unmapped_t with the system's
  // error when it fails (ERROR_NOT_OWNER, 288, for a thread that does not hold the lock).
  virtual void release();

 protected:
  explicit qmgl_sync_lock(void* handle) noexcept;

  // The outcome recorded by the last request; qmgl_wait_no_error before the first.
  virtual qmgl_wait_error_indicator get_wait_error() const;

  qmgl_wait_error_indicator _wait_error;

  friend struct qmgl_sync_monitor;
  friend struct qmgl_sync_unlock_monitor;
};

// A lock of this process, unnamed.
struct WYGL_API qmgl_sync_lock_private : qmgl_sync_lock {
  // A new lock, not held. Raises exc_unmapped_t with the system's error when none can be made.
  qmgl_sync_lock_private();
  ~qmgl_sync_lock_private() override;
};

// A lock shared between processes by name.
struct WYGL_API qmgl_sync_lock_shared : qmgl_sync_lock {
  // qmgl_action_open opens the lock named name, which must exist (exc_unmapped_t with the
  // system's error otherwise: ERROR_FILE_NOT_FOUND, 2, for a name that does not exist).
  // qmgl_action_create creates it, not held, for every user of the machine; a lock of that name
  // that exists already raises exc_already_exists_t ("exc_already_exists").
  // qmgl_action_create_or_open creates it or opens the one that exists. The name is used as it
  // is; a null name creates a lock of this process alone. Other system failures, a name that
  // exists as another kind of object among them, raise exc_unmapped_t. A constructor that
  // raises leaves nothing open.
  qmgl_sync_lock_shared(char const* name, qmgl_action_indicator action);
  ~qmgl_sync_lock_shared() override;
};

// A manual-reset signal (an event): posting it releases every waiter, and it stays posted
// until it is reset.
//
// Thread safety: any number of threads (and, for a shared signal, processes) may post, reset
// and wait on one signal at once.
struct WYGL_API qmgl_sync_sema : qmgl_sync_imp {
  // The initial state of a new signal: only posted (1) makes it start set.
  enum state_indicator : std::int32_t { not_posted = 0, posted = 1 };

  ~qmgl_sync_sema() override;

  // Sets the signal. Raises exc_unmapped_t with the system's error on failure.
  virtual void post();

  // Clears it. Raises exc_unmapped_t with the system's error on failure.
  virtual void reset();

  // Waits at most timeout milliseconds (-1, all bits set: no limit; only the low 32 bits
  // count) for the signal to be set: qmgl_wait_no_error, or qmgl_wait_timeout. A failed wait
  // raises exc_unmapped_t with the system's error (exc_should_not_execute_t when the system
  // gives none), any other result exc_should_not_execute_t. A signal records no outcome.
  virtual qmgl_wait_error_indicator wait(long timeout);

  // Waits without limit until the signal is set. Raises as wait(long).
  virtual void wait();

 protected:
  explicit qmgl_sync_sema(void* handle) noexcept : qmgl_sync_imp(handle) {}
};

// A signal of this process, unnamed.
struct WYGL_API qmgl_sync_sema_private : qmgl_sync_sema {
  // A new signal, set exactly when state is posted. Raises exc_unmapped_t with the system's
  // error when none can be made.
  explicit qmgl_sync_sema_private(state_indicator state = not_posted);
  ~qmgl_sync_sema_private() override;
};

// A signal shared between processes by name.
struct WYGL_API qmgl_sync_sema_shared : qmgl_sync_sema {
  // Creates or opens the signal named name under the rules of qmgl_sync_lock_shared. A new
  // signal starts set exactly when state is posted; opening one that exists leaves its state.
  qmgl_sync_sema_shared(char const* name, qmgl_action_indicator action, state_indicator state);
  ~qmgl_sync_sema_shared() override;
};

// Holds a lock for the life of a scope:
//
//   { qmgl_sync_monitor hold(lock); ... }  // requested here, released at the brace
//
// Not copyable. Used by one thread.
struct WYGL_API qmgl_sync_monitor {
  // Requests the lock without limit. When its owner had ended holding it, releases it at once
  // and raises exc_owner_died_t ("exc_owner_died"); the lock is then not held. Raises what
  // request() raises.
  explicit qmgl_sync_monitor(qmgl_sync_lock& lock);

  // Requests the lock with a time limit (as request(long)). Raises exc_timeout_t
  // ("exc_timeout") when the limit passes first, and exc_owner_died_t as above; in both cases
  // the lock is not held.
  qmgl_sync_monitor(qmgl_sync_lock& lock, long timeout);

  // Releases the lock; raises what release() raises.
  ~qmgl_sync_monitor() noexcept(false);

  qmgl_sync_monitor(qmgl_sync_monitor const&) = delete;
  qmgl_sync_monitor& operator=(qmgl_sync_monitor const&) = delete;

 private:
  qmgl_sync_lock& _lock;
};

// Gives up a lock that the calling thread holds for the life of a scope, and takes it back:
//
//   qmgl_sync_monitor hold(lock);
//   { qmgl_sync_unlock_monitor let_go(lock); ... }  // others may take it in here
//
// Not copyable. Used by one thread.
struct WYGL_API qmgl_sync_unlock_monitor {
  // Releases the lock; raises what release() raises.
  explicit qmgl_sync_unlock_monitor(qmgl_sync_lock& lock);

  // Requests the lock again, without limit. When its owner meanwhile ended holding it,
  // releases it and raises exc_owner_died_t ("exc_owner_died").
  //
  // While another exception unwinds the scope, nothing is raised: the lock is requested and
  // kept (the enclosing holder releases it as usual), an abandoned lock is reported only by
  // the lock's recorded outcome, and a failing request leaves the lock not held.
  ~qmgl_sync_unlock_monitor() noexcept(false);

  qmgl_sync_unlock_monitor(qmgl_sync_unlock_monitor const&) = delete;
  qmgl_sync_unlock_monitor& operator=(qmgl_sync_unlock_monitor const&) = delete;

 private:
  qmgl_sync_lock& _lock;
  int _exceptions_at_start;
};

// A lightweight lock between the threads of one process (a critical section), re-entrant for
// its owner. It reports no errors. Not copyable or assignable: it holds a live system record.
//
//   qmgl_guard guard;
//   guard.enterCriticalRegion();
//   ...
//   guard.leaveCriticalRegion();
//
// Thread safety: any thread of the process may enter and leave; only the thread that entered
// may leave, once per entry. It must not be destroyed while entered.
struct WYGL_API qmgl_guard {
  qmgl_guard() noexcept;
  ~qmgl_guard();
  qmgl_guard(qmgl_guard const&) = delete;
  qmgl_guard& operator=(qmgl_guard const&) = delete;

  // Waits without limit until the calling thread owns the region.
  void enterCriticalRegion() noexcept;
  // Gives up one entry of the calling thread.
  void leaveCriticalRegion() noexcept;

 private:
  alignas(8) unsigned char _section[48];
};

#endif  // WYGL_QMGL_SYNC_H
