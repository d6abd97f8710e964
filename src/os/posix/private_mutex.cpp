#include "os/posix/private_mutex.h"

#include <cerrno>
#include <ctime>

#include <pthread.h>

#include "os/error_codes.h"
#include "os/last_error.h"
#include "os/posix/deadline.h"
#include "os/posix/futex.h"

namespace wygl::os {

constinit thread_local thread_holdings this_thread_holdings = {nullptr, false};

namespace {

void thread_ending(void* holdings) noexcept {
  static_cast<thread_holdings*>(holdings)->abandon_all();
}

// The key whose destructor reports a thread's end. Deleted when the library is unloaded, so
// that no thread calls into unloaded code.
class thread_end_key {
 public:
  thread_end_key() noexcept : _made(pthread_key_create(&_key, thread_ending) == 0) {}
  ~thread_end_key() {
    if (_made) pthread_key_delete(_key);
  }
  thread_end_key(thread_end_key const&) = delete;
  thread_end_key& operator=(thread_end_key const&) = delete;

  bool watch(thread_holdings& me) const noexcept {
    return _made && pthread_setspecific(_key, &me) == 0;
  }

 private:
  pthread_key_t _key{};
  bool _made;
};

// Made on first use, which may come from another library's static initialisation.
thread_end_key const& end_key() noexcept {
  static thread_end_key const key;
  return key;
}

// Sleeps while the word is 2, at most until deadline (no limit when null). False once the
// deadline has passed.
bool sleep_while_wanted(std::atomic<std::uint32_t>& word, timespec const* deadline) noexcept {
  return futex_wait(word, 2u, deadline, futex_scope::process) != ETIMEDOUT;
}

}  // namespace

void thread_holdings::watch() noexcept {
  watched = end_key().watch(*this);
}

void thread_holdings::abandon_all() noexcept {
  // A mutex taken from here on, by a later key destructor, arms the key again.
  watched = false;
  while (private_mutex* const mutex = first_held) {
    first_held = mutex->_next_held;
    mutex->_previous_held = nullptr;
    mutex->_next_held = nullptr;
    mutex->_depth = 0;
    mutex->_abandoned = true;
    mutex->_holder.store(nullptr, std::memory_order_relaxed);
    mutex->free_word();
  }
}

// Takes the word as 2, "held, maybe wanted", so that the holder that frees it wakes the next
// sleeper; a waiter that gives up leaves it so, which costs at most one needless wake.
bool private_mutex::wait_until_free(std::uint32_t timeout_ms) noexcept {
  if (timeout_ms == 0) return false;
  timespec deadline{};
  timespec const* limit = nullptr;
  if (timeout_ms != wait_forever) {
    deadline = monotonic_deadline_after(timeout_ms);
    limit = &deadline;
  }
  while (_word.exchange(2, std::memory_order_acquire) != 0) {
    if (!sleep_while_wanted(_word, limit)) return false;
  }
  return true;
}

void private_mutex::wake_one() noexcept {
  futex_wake(_word, 1, futex_scope::process);
}

bool private_mutex::refuse_release() noexcept {
  set_last_error(err::not_owner);
  return false;
}

}  // namespace wygl::os
