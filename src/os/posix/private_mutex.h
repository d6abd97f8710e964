// The mutex of a private lock: used by the threads of one process only, so it needs neither
// process sharing nor the kernel's robust-futex list, which make a pthread mutex of that kind
// several times dearer than a plain one.
//
// A futex word (0 free, 1 held, 2 held with waiters, as in Drepper's "Futexes Are Tricky")
// and, written by the holder only, the holder's depth. The holder is named by the address of
// its per-thread record, which also links the mutexes it holds, so that a thread that ends
// holding some abandons them: when the thread ends, each is marked abandoned and freed, and
// the next taker obtains it with wait_abandoned. Threads end through return or pthread_exit
// (cancellation included); the end is seen through a thread-specific key, registered when a
// thread first takes a private mutex.
//
// Taking and releasing a mutex that nobody else wants costs one compare-and-swap and one
// exchange, plus a few plain stores for the depth and the holder's list; in a process that has
// only ever had one thread, plain reads and writes instead of the two atomic operations. That
// path stands inline here; waiting, waking and watching a thread's end do not.

#ifndef WYGL_SRC_OS_POSIX_PRIVATE_MUTEX_H
#define WYGL_SRC_OS_POSIX_PRIVATE_MUTEX_H

#include <atomic>
#include <cstdint>

#include <sys/single_threaded.h>

#include "os/kernel_object.h"

namespace wygl::os {

class private_mutex;

// What one thread holds.
struct thread_holdings {
  private_mutex* first_held;
  // The thread-specific key will report the thread's end.
  bool watched;

  // Arms the key for this thread; leaves watched false when the system refuses.
  void watch() noexcept;
  // At the thread's end: every mutex it still holds is marked abandoned and freed.
  void abandon_all() noexcept;
};

// In the static TLS block, so that finding it costs one load from the thread pointer rather
// than a call; it is small enough for the room the loader keeps for libraries loaded later.
extern constinit thread_local thread_holdings this_thread_holdings
    __attribute__((tls_model("initial-exec")));

class private_mutex {
 public:
  private_mutex() noexcept = default;
  private_mutex(private_mutex const&) = delete;
  private_mutex& operator=(private_mutex const&) = delete;

  // As wait_for (os/kernel_object.h) on a mutex.
  std::uint32_t take(std::uint32_t timeout_ms) noexcept {
    thread_holdings& me = this_thread_holdings;
    if (_holder.load(std::memory_order_relaxed) == &me) {
      ++_depth;
      return wait_obtained;
    }
    if (!try_word() && !wait_until_free(timeout_ms)) return wait_timed_out;
    return become_holder(me);
  }

  // As release_mutex (os/mutex.h).
  bool give() noexcept {
    thread_holdings& me = this_thread_holdings;
    if (_holder.load(std::memory_order_relaxed) != &me) return refuse_release();
    if (--_depth > 0) return true;
    unlink(me);
    _holder.store(nullptr, std::memory_order_relaxed);
    free_word();
    return true;
  }

  // Whether some thread holds it now.
  bool held() const noexcept { return _holder.load(std::memory_order_relaxed) != nullptr; }

 private:
  friend struct thread_holdings;

  // While the process has only ever had one thread, nothing can take the word meanwhile, and
  // plain reads and writes do (as glibc does for its own mutexes then). The thread that starts
  // a second thread does so after its last plain write, and the start orders the two.
  bool try_word() noexcept {
    if (__libc_single_threaded) {
      if (_word.load(std::memory_order_relaxed) != 0) return false;
      _word.store(1, std::memory_order_relaxed);
      return true;
    }
    std::uint32_t expected = 0;
    return _word.compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                         std::memory_order_relaxed);
  }

  std::uint32_t become_holder(thread_holdings& me) noexcept {
    _holder.store(&me, std::memory_order_relaxed);
    _depth = 1;
    _previous_held = nullptr;
    _next_held = me.first_held;
    if (_next_held != nullptr) _next_held->_previous_held = this;
    me.first_held = this;
    // A thread whose end cannot be watched (the system refused the key) still takes the
    // mutex and tries again next time; should it end holding one, that one stays held.
    if (!me.watched) me.watch();
    if (!_abandoned) return wait_obtained;
    _abandoned = false;
    return wait_abandoned;
  }

  void unlink(thread_holdings& me) noexcept {
    if (_previous_held != nullptr) {
      _previous_held->_next_held = _next_held;
    } else {
      me.first_held = _next_held;
    }
    if (_next_held != nullptr) _next_held->_previous_held = _previous_held;
  }

  void free_word() noexcept {
    std::uint32_t before = 0;
    if (__libc_single_threaded) {
      before = _word.load(std::memory_order_relaxed);
      _word.store(0, std::memory_order_relaxed);
    } else {
      before = _word.exchange(0, std::memory_order_release);
    }
    // 2: some thread may sleep on the word (with one thread, only a limited wait that gave up
    // leaves it so, and the wake is then needless but harmless).
    if (before == 2) wake_one();
  }

  bool wait_until_free(std::uint32_t timeout_ms) noexcept;
  void wake_one() noexcept;
  static bool refuse_release() noexcept;

  std::atomic<std::uint32_t> _word{0};
  std::atomic<thread_holdings*> _holder{nullptr};
  // The fields below belong to the holder; the word's acquire and release order them between
  // successive holders.
  std::int32_t _depth = 0;
  bool _abandoned = false;
  private_mutex* _previous_held = nullptr;
  private_mutex* _next_held = nullptr;
};

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_POSIX_PRIVATE_MUTEX_H
