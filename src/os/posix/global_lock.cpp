#include "os/posix/global_lock.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/error_codes.h"
#include "os/last_error.h"
#include "os/posix/deadline.h"
#include "os/posix/errno_map.h"

namespace wygl::os {
namespace {

// Outside the names of objects, which all begin with "/wygl." (object_name.h), so that no
// object name, "lock" included, meets the lock's file and no sweep of orphans takes it.
constexpr char lock_name[] = "/wygl-global.lock";

// Between two tries a taker sleeps, from this long, twice as long each time up to the cap:
// short enough to follow a holder that lets go after a few system calls, long enough not to
// spin against one that does not.
constexpr long first_pause_ns = 20000;
constexpr long longest_pause_ns = 2000000;

enum class attempt { locked, busy, failed };

// Locks fd exclusively without waiting.
attempt try_lock(int fd) noexcept {
  int result;
  do {
    result = flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return attempt::locked;
  return errno == EWOULDBLOCK ? attempt::busy : attempt::failed;
}

// Whether the name still refers to the file behind fd.
bool name_refers_to(int fd) noexcept {
  int const current = shm_open(lock_name, O_RDWR | O_CLOEXEC, 0);
  if (current < 0) return false;
  struct stat locked {};
  struct stat named {};
  bool const same = fstat(fd, &locked) == 0 && fstat(current, &named) == 0 &&
                    locked.st_dev == named.st_dev && locked.st_ino == named.st_ino;
  close(current);
  return same;
}

bool before(timespec const& a, timespec const& b) noexcept {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

}  // namespace

global_lock::global_lock(std::uint32_t limit_ms) noexcept : _fd(-1) {
  timespec const deadline = monotonic_deadline_after(limit_ms);
  long pause_ns = first_pause_ns;
  for (;;) {
    int const fd = shm_open(lock_name, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) break;
    // Every user's processes must be able to open it, whatever their umask; a file of another
    // user refuses the change and keeps the mode that user gave it.
    fchmod(fd, 0666);
    attempt const outcome = try_lock(fd);
    if (outcome == attempt::locked && name_refers_to(fd)) {
      _fd = fd;
      return;
    }
    int const error = errno;
    close(fd);
    if (outcome == attempt::failed) {
      errno = error;
      break;
    }
    if (outcome == attempt::busy) {
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      if (!before(now, deadline)) {
        set_last_error(err::timeout);
        return;
      }
      timespec const pause{0, pause_ns};
      nanosleep(&pause, nullptr);
      pause_ns = std::min(pause_ns * 2, longest_pause_ns);
    }
  }
  set_last_error(windows_error_from_errno(errno));
}

global_lock::~global_lock() {
  if (_fd < 0) return;
  shm_unlink(lock_name);
  close(_fd);
}

}  // namespace wygl::os
