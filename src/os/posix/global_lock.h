// The lock that serialises the creation, opening and closing of named objects among all
// processes that use this library.
//
// It is an exclusive flock on the shared-memory object "/wygl-global.lock", which the holder
// removes when it lets go, so that nothing stays behind. A process that locked a file that was
// removed meanwhile (its name now missing, or naming a newer file) lets go and tries again:
// the holder is always the one that locked the file its name refers to. The kernel drops
// the lock of a process that dies; the file it leaves is locked and removed by the next
// holder. A lock file that its holder could not remove (it belongs to another user) stays,
// and works the same way.
//
// The lock is held for a few system calls at a time, so a taker that cannot get it within
// the time limit finds a holder that has stopped (a process suspended or traced while holding
// it): it gives up with ERROR_TIMEOUT (1460) instead of waiting for ever.

#ifndef WYGL_SRC_OS_POSIX_GLOBAL_LOCK_H
#define WYGL_SRC_OS_POSIX_GLOBAL_LOCK_H

#include <cstdint>

namespace wygl::os {

class global_lock {
 public:
  // How long a taker tries by default.
  static constexpr std::uint32_t default_limit_ms = 5000;

  // Tries for the lock for at most limit_ms milliseconds. held() tells whether it was
  // obtained; when not, the last error says why (ERROR_TIMEOUT when the limit ran out).
  explicit global_lock(std::uint32_t limit_ms = default_limit_ms) noexcept;
  ~global_lock();
  global_lock(global_lock const&) = delete;
  global_lock& operator=(global_lock const&) = delete;

  bool held() const noexcept { return _fd >= 0; }

 private:
  int _fd;
};

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_POSIX_GLOBAL_LOCK_H
