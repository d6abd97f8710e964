// qmgl_timer.h - the process-wide timer: callbacks after a number of seconds, once or
// periodically, on one timer thread.
//
// The host creates the one timer, registers callback objects and destroys the timer when it is
// done with it:
//
//   struct flush_journal : qmgl_callback<int> {
//     void call(int&) override { journal.flush(); }
//   };
//
//   qmgl_timer::create();
//   long const id = qmgl_timer::getSelf().add_periodic(new flush_journal, 5);  // every 5 s
//   qmgl_timer::getSelf().add_alarm(new shut_down_idle, 60);               // once, in 60 s
//   ...
//   qmgl_timer::getSelf().remove(id);  // deletes the callback object
//   qmgl_timer::destroy();             // deletes the rest
//
// Time is counted in whole seconds of the calendar clock (time()). The timer thread looks at
// the registrations once a second (it waits 1000 ms between passes), so an entry of n seconds
// fires between n - 1 and n + 1 seconds after its registration or its previous firing, and
// later by as long as the thread waits for the processor and for the callbacks before it in
// the same pass. In one pass, entries fire in the order of their registration; the next due
// time of a periodic entry counts from the pass in which it fired (missed periods are not made
// up), and one of 0 or fewer seconds fires on every pass.
//
// Callbacks run on the timer thread, one at a time, with the timer's lock held: a slow
// callback delays every other callback and every registration and removal. A callback may
// register new entries (those already due fire later in the same pass) and remove entries,
// its own among them (it is then deleted once its call has returned). It must not call
// destroy, nor wait for a thread that is registering or removing an entry; terminate from a
// callback waits its 2000 ms for the timer thread in vain, and the thread ends after the pass.
//
// Trace records (tracepoints 0x1423xx00, level 0x1000): entry and exit of the constructor
// (01), the destructor (02), terminate (03, the entry with the text "Handle=%p"),
// add_periodic (04), add_alarm (05), remove (06), the thread's procedure (07), create (08) and
// destroy (09), naming the timer (create and destroy name none); error texts (level 0x8)
// "Already Exists\n", "In catch ERROR\n" and "ERROR CreateThread rc=%d\n%S"; the resource
// event (level 0x4000) "Thread Started with ID:%d Handle=%p\n".

#ifndef WYGL_QMGL_TIMER_H
#define WYGL_QMGL_TIMER_H

#include <atomic>
#include <cstdint>
#include <list>

#include <wygl/qmgl_sync.h>
#include <wygl/wygl_export.h>

// A callback object: the host derives its callbacks from qmgl_callback<int>; the timer calls
// them and deletes them.
template <class T>
struct qmgl_callback {
  qmgl_callback() = default;
  qmgl_callback(qmgl_callback const&) = default;
  qmgl_callback& operator=(qmgl_callback const&) = default;
  virtual ~qmgl_callback() = default;

  // The callback's work. The timer passes an int holding 0 and ignores what is left in it.
  // An exception that leaves it ends the timer thread (see qmgl_timer).
  virtual void call(T& argument) = 0;
};

// Thread safety: add_alarm, add_periodic, remove and terminate may be called from any thread,
// and from the timer's callbacks as stated above; the timer's lock serialises them with the
// passes. create, destroy and getSelf take no lock: the host calls create and destroy from one
// thread, and not while other threads use the timer.
class WYGL_API qmgl_timer {
 public:
  // Creates the timer and starts its thread. Raises exc_already_exists_t
  // ("exc_already_exists") after the error texts "Already Exists\n" and "In catch ERROR\n"
  // when a timer exists; when the timer cannot be made, writes "In catch ERROR\n" and raises
  // what it met: exc_not_enough_memory_t, or exc_unmapped_t with code 0x20000004 after
  // "ERROR CreateThread rc=%d\n%S" when no thread can be started. No timer exists then.
  static void create();

  // Stops the timer thread if terminate has not, and waits for its end: first for at most
  // 2000 ms, as terminate does, and then, should a callback still be running, without limit,
  // since the registrations are freed next and the thread must be done with them. Then deletes
  // every registered callback object, each once, and the timer; create may be called again.
  // Raises exc_does_not_exist_t ("exc_does_not_exist") after "In catch ERROR\n" when no timer
  // exists.
  static void destroy();

  // The timer. Raises exc_assertion_failed_t ("unexpected null pointer") when none exists.
  static qmgl_timer& getSelf();

  // Registers callback to be called once, seconds seconds from now; the entry and its callback
  // object are deleted right after the call. Returns the registration's identifier: a number
  // above 0, unique among the registrations present; that of a registration that has fired
  // or been removed may be handed out again. The new entry is first looked at on the thread's
  // next pass.
  //
  // The timer owns callback from the call on, also when the call fails: it is then deleted.
  // A null callback, or one that cannot be registered (exc_not_enough_memory_t), raises
  // exc_unmapped_t with code 0x20000004 after the error text "In catch ERROR\n"; nothing is
  // registered.
  long add_alarm(qmgl_callback<int>* callback, int seconds);

  // As add_alarm, for an entry that fires every seconds seconds until it is removed.
  long add_periodic(qmgl_callback<int>* callback, int seconds);

  // When a registration with this identifier is present, deletes its callback object and the
  // entry and returns true; otherwise returns false and changes nothing. An entry whose
  // callback is running (a callback removing its own entry) is deleted when the call returns.
  // Raises as add_alarm should an exception be caught.
  bool remove(long id);

  // Stops the timer thread: it finishes the pass it is in or is woken for (so due entries may
  // fire once more) and ends. Waits at most 2000 ms for that. Registrations are still accepted
  // afterwards, but nothing fires any more. Returns 0; 0x20000004 after "In catch ERROR\n"
  // when an exception was caught.
  int terminate();

  qmgl_timer(qmgl_timer const&) = delete;
  qmgl_timer& operator=(qmgl_timer const&) = delete;

 private:
  struct alarm_entry;

  qmgl_timer();
  ~qmgl_timer();

  static std::uint32_t thread_procedure(void* timer) noexcept;
  long add(qmgl_callback<int>* callback, int seconds, bool periodic, std::uint32_t tracepoint);
  long unused_id();
  void fire_due_entries(std::int32_t now);

  void* _thread_handle;  // null once terminate has run
  qmgl_guard _guard;     // held for every use of _entries, and for a whole pass
  qmgl_sync_sema_private _wakeup;
  std::list<alarm_entry*> _entries;  // owned, in the order of registration
  // The thread's handle, kept until the destructor has seen the thread's end.
  void* _thread;
  // Set by terminate; the thread ends its loop when it sees it.
  std::atomic<bool> _stopping;
  long _last_id;      // the identifier handed out last
  bool _ids_wrapped;  // identifiers have run through their range at least once

  static qmgl_timer* selfPtr;
};

#endif  // WYGL_QMGL_TIMER_H
