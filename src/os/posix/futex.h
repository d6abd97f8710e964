// The futex operations on a 32-bit atomic word: sleeping while the word holds a value, and
// waking sleepers. Private operations serve words in memory of one process; shared ones words
// in memory that processes share (the kernel then finds the word by its file and offset, so
// each process may map it at an address of its own).

#ifndef WYGL_SRC_OS_POSIX_FUTEX_H
#define WYGL_SRC_OS_POSIX_FUTEX_H

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <ctime>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace wygl::os {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
              std::atomic<std::uint32_t>::is_always_lock_free);

enum class futex_scope : bool { process, shared };

// Sleeps while word holds expected, until a wake, a signal, or the absolute deadline on
// CLOCK_MONOTONIC (null: no limit). Returns 0 when woken, otherwise the errno: EAGAIN when
// the word held another value, EINTR, ETIMEDOUT. Callers test the word again in every case.
inline int futex_wait(std::atomic<std::uint32_t>& word, std::uint32_t expected,
                      timespec const* deadline, futex_scope scope) noexcept {
  int const operation =
      FUTEX_WAIT_BITSET | (scope == futex_scope::process ? FUTEX_PRIVATE_FLAG : 0);
  long const result = syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), operation,
                              expected, deadline, nullptr, FUTEX_BITSET_MATCH_ANY);
  return result == 0 ? 0 : errno;
}

// Wakes at most count sleepers of word (INT_MAX: all).
inline void futex_wake(std::atomic<std::uint32_t>& word, int count, futex_scope scope) noexcept {
  int const operation = FUTEX_WAKE | (scope == futex_scope::process ? FUTEX_PRIVATE_FLAG : 0);
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), operation, count, nullptr, nullptr,
          0);
}

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_POSIX_FUTEX_H
