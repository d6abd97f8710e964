// The lock that serialises the creation, opening and closing of named objects among all
// processes that use this library.
//
// It is an exclusive flock on the shared-memory object "/wygl.lock", which the holder removes
// when it lets go, so that nothing stays behind. A process that locked a file that was
// removed meanwhile (its name now missing, or naming a newer file) lets go and tries again:
// the holder is always the one that locked the file its name refers to. The kernel drops
// the lock of a process that dies. A lock file that its holder could not remove (it belongs
// to another user) stays, and works the same way.

#ifndef WYGL_SRC_OS_POSIX_GLOBAL_LOCK_H
#define WYGL_SRC_OS_POSIX_GLOBAL_LOCK_H

namespace wygl::os {

class global_lock {
 public:
  // Waits for the lock. held() tells whether it was obtained; when not, the last error says why.
  global_lock() noexcept;
  ~global_lock();
  global_lock(global_lock const&) = delete;
  global_lock& operator=(global_lock const&) = delete;

  bool held() const noexcept { return _fd >= 0; }

 private:
  int _fd;
};

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_POSIX_GLOBAL_LOCK_H
