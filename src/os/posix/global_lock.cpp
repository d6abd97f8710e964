#include "os/posix/global_lock.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/last_error.h"
#include "os/posix/errno_map.h"

namespace wygl::os {
namespace {

constexpr char lock_name[] = "/wygl.lock";

int lock_exclusively(int fd) noexcept {
  int result;
  do {
    result = flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  return result;
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

}  // namespace

global_lock::global_lock() noexcept : _fd(-1) {
  for (;;) {
    int const fd = shm_open(lock_name, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) break;
    // Every user's processes must be able to open it, whatever their umask; a file of another
    // user refuses the change and keeps the mode that user gave it.
    fchmod(fd, 0666);
    if (lock_exclusively(fd) != 0) {
      int const error = errno;
      close(fd);
      errno = error;
      break;
    }
    if (name_refers_to(fd)) {
      _fd = fd;
      return;
    }
    close(fd);
  }
  set_last_error(windows_error_from_errno(errno));
}

global_lock::~global_lock() {
  if (_fd < 0) return;
  shm_unlink(lock_name);
  close(_fd);
}

}  // namespace wygl::os
