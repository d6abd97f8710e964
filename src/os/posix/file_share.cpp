#include "os/posix/file_share.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/error_codes.h"
#include "os/file.h"
#include "os/last_error.h"

namespace wygl::os::posix {
namespace {

enum class marker { has_read = 0, has_write = 1, denies_read = 2, denies_write = 3 };

// Far beyond the data of any file, and leaving room below the largest offset.
constexpr off_t marker_area = off_t{1} << 62;
// Openers that can hold one marker of one file at a time.
constexpr off_t slots_per_marker = off_t{1} << 20;

off_t first_slot(marker m) {
  return marker_area + static_cast<off_t>(m) * slots_per_marker;
}

enum class outcome { done, conflict, unsupported };

// A lock of the type the descriptor can hold on one slot of m. Descriptors that can read take
// shared locks, which coexist on the first slot; descriptors open only for writing take
// exclusive ones, each on a slot no one else holds.
outcome hold(int fd, bool can_read, marker m) {
  for (off_t slot = 0; slot < slots_per_marker; ++slot) {
    struct flock lock {};
    lock.l_type = can_read ? F_RDLCK : F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = first_slot(m) + slot;
    lock.l_len = 1;
    if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return outcome::done;
    if (errno != EAGAIN && errno != EACCES) return outcome::unsupported;
  }
  return outcome::conflict;
}

// Whether another open file description holds m. A probe for an exclusive lock over the whole
// range meets every lock of another description, and none of this one's.
outcome held_by_another(int fd, marker m) {
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = first_slot(m);
  probe.l_len = slots_per_marker;
  if (fcntl(fd, F_OFD_GETLK, &probe) != 0) return outcome::unsupported;
  return probe.l_type == F_UNLCK ? outcome::done : outcome::conflict;
}

}  // namespace

bool claim_share(int fd, std::uint32_t access, std::uint32_t share,
                 bool about_to_truncate) noexcept {
  int const mode = fcntl(fd, F_GETFL);
  if (mode == -1) return true;  // the open itself has failed; nothing to share
  bool const can_read = (mode & O_ACCMODE) != O_WRONLY;

  bool const reads = (access & file_read_access) != 0;
  bool const writes = (access & file_write_access) != 0;
  bool const denies_read = (share & file_share_read) == 0;
  bool const denies_write = (share & file_share_write) == 0;

  struct claim {
    bool wanted;
    marker which;
  };
  claim const claims[] = {{reads, marker::has_read},
                          {writes, marker::has_write},
                          {denies_read, marker::denies_read},
                          {denies_write, marker::denies_write}};
  for (claim const& c : claims) {
    if (!c.wanted) continue;
    outcome const taken = hold(fd, can_read, c.which);
    if (taken == outcome::unsupported) return true;
    if (taken == outcome::conflict) {
      set_last_error(err::sharing_violation);
      return false;
    }
  }

  // What others hold that excludes this opener, and what this opener excludes that others hold.
  claim const tests[] = {{reads, marker::denies_read},
                         {writes || about_to_truncate, marker::denies_write},
                         {denies_read, marker::has_read},
                         {denies_write, marker::has_write}};
  for (claim const& t : tests) {
    if (!t.wanted) continue;
    outcome const seen = held_by_another(fd, t.which);
    if (seen == outcome::unsupported) return true;
    if (seen == outcome::conflict) {
      set_last_error(err::sharing_violation);
      return false;
    }
  }
  return true;
}

bool deletion_hold::take(char const* path) noexcept {
  release();
  constexpr int flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  // A file without read permission may still be held by a writer; open it for writing then
  // (a regular file opened without O_TRUNC is left as it is).
  int fd = open(path, O_RDONLY | flags);
  if (fd == -1 && errno == EACCES) fd = open(path, O_WRONLY | flags);
  if (fd == -1) return true;
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    return true;
  }
  if (!claim_share(fd, 0, 0, false)) {
    close(fd);
    return false;
  }
  _fd = fd;
  return true;
}

void deletion_hold::release() noexcept {
  if (_fd == -1) return;
  close(_fd);
  _fd = -1;
}

}  // namespace wygl::os::posix
