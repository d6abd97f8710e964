#include "os/file.h"

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/error_codes.h"
#include "os/last_error.h"
#include "os/posix/errno_map.h"
#include "os/posix/file_descriptor.h"
#include "os/posix/file_path.h"
#include "os/posix/file_share.h"

namespace wygl::os {
namespace {

using posix::fd_of;
using posix::handle_of;

bool fail(std::uint32_t code) {
  set_last_error(code);
  return false;
}

// EBADF on a descriptor that is open means that it lacks the access the call needs.
std::uint32_t io_error(int fd, int errno_value) {
  if (errno_value == EBADF && fcntl(fd, F_GETFL) != -1) return err::access_denied;
  return windows_error_from_errno(errno_value);
}

int access_flags(std::uint32_t access) {
  bool const reads = (access & file_read_access) != 0;
  bool const writes = (access & file_write_access) != 0;
  if (reads && writes) return O_RDWR;
  return writes ? O_WRONLY : O_RDONLY;
}

int open_retrying(char const* path, int flags, mode_t mode = 0) {
  int fd = -1;
  do {
    fd = open(path, flags, mode);
  } while (fd == -1 && errno == EINTR);
  return fd;
}

// Opens path as the disposition asks, without emptying it yet: the share modes decide first.
// created tells whether this call made the file. Fails with errno set.
int open_as_disposition(char const* path, int flags, file_creation how, bool& created) {
  constexpr mode_t everyone = 0666;
  created = false;
  switch (how) {
    case file_creation::create_new: {
      int const fd = open_retrying(path, flags | O_CREAT | O_EXCL, everyone);
      created = fd != -1;
      return fd;
    }
    case file_creation::open_existing:
    case file_creation::truncate_existing:
      return open_retrying(path, flags);
    case file_creation::create_always:
    case file_creation::open_always:
      break;
  }
  // Create the file when it is missing, open it when it exists; a file removed between the
  // two tries is tried again.
  for (int attempt = 0; attempt < 100; ++attempt) {
    int fd = open_retrying(path, flags | O_CREAT | O_EXCL, everyone);
    if (fd != -1) {
      created = true;
      return fd;
    }
    if (errno != EEXIST) return -1;
    fd = open_retrying(path, flags);
    if (fd != -1 || errno != ENOENT) return fd;
  }
  return -1;
}

bool empty_file(int fd, char const* path) {
  // A descriptor open only for reading cannot cut its file; the name can.
  int const result =
      (fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY ? truncate(path, 0) : ftruncate(fd, 0);
  return result == 0;
}

constexpr std::uint32_t seek_failed = 0xFFFFFFFFu;

std::uint32_t seek_failure(std::uint32_t code) {
  set_last_error(code);
  return seek_failed;
}

// The descriptors of the standard handles: the files opened here never take their numbers,
// so that a standard handle the process lacks stays missing instead of turning into a file.
constexpr int first_free_descriptor = STDERR_FILENO + 1;

// fd moved above the standard handles' numbers, keeping its inheritance; -1 with errno set
// when no descriptor is free there (fd is then closed).
int above_standard_handles(int fd) {
  if (fd >= first_free_descriptor) return fd;
  int const moved = fcntl(fd, F_DUPFD, first_free_descriptor);
  int const error = errno;
  close(fd);
  errno = error;
  return moved;
}

// Closes fd after a failure, keeping the failure's last error.
bool close_and_fail(int fd, std::uint32_t code) {
  close(fd);
  return fail(code);
}

}  // namespace

bool everyone_access::prepare() noexcept {
  return true;
}

bool open_file(char const* name, std::uint32_t access, std::uint32_t share, file_creation how,
               everyone_access* security, file_handle& opened) noexcept {
  if (name == nullptr || *name == '\0') return fail(err::path_not_found);
  char const* const path = posix::host_path(name);
  bool created = false;
  // Without O_CLOEXEC: child processes inherit the files opened here.
  int const first = open_as_disposition(path, access_flags(access) | O_NOCTTY, how, created);
  if (first == -1) return fail(posix::error_for_path(errno, path));
  int const fd = above_standard_handles(first);
  if (fd == -1) return fail(windows_error_from_errno(errno));

  struct stat status {};
  if (fstat(fd, &status) != 0) return close_and_fail(fd, windows_error_from_errno(errno));
  if (S_ISDIR(status.st_mode)) return close_and_fail(fd, err::access_denied);
  // The umask would take away what the grant gives to everyone.
  if (created && security != nullptr) fchmod(fd, 0666);

  if (S_ISREG(status.st_mode)) {
    bool const truncates = !created && (how == file_creation::create_always ||
                                        how == file_creation::truncate_existing);
    if (!posix::claim_share(fd, access, share, truncates))
      return close_and_fail(fd, err::sharing_violation);
    if (truncates && !empty_file(fd, path))
      return close_and_fail(fd, windows_error_from_errno(errno));
  }
  opened = handle_of(fd);
  return true;
}

bool close_file(file_handle file) noexcept {
  // The descriptor is gone after close even when it reports EINTR: never retried.
  if (close(fd_of(file)) == 0) return true;
  return fail(windows_error_from_errno(errno));
}

bool duplicate_file(file_handle file, file_handle& copy) noexcept {
  int const fd = fcntl(fd_of(file), F_DUPFD_CLOEXEC, first_free_descriptor);
  if (fd == -1) return fail(windows_error_from_errno(errno));
  copy = handle_of(fd);
  return true;
}

bool read_file(file_handle file, void* buffer, std::uint32_t count, std::uint32_t& done) noexcept {
  int const fd = fd_of(file);
  ssize_t n = 0;
  do {
    n = read(fd, buffer, count);
  } while (n == -1 && errno == EINTR);
  if (n == -1) return fail(io_error(fd, errno));
  done = static_cast<std::uint32_t>(n);
  return true;
}

bool write_file(file_handle file, void const* buffer, std::uint32_t count,
                std::uint32_t& done) noexcept {
  int const fd = fd_of(file);
  ssize_t n = 0;
  do {
    n = write(fd, buffer, count);
  } while (n == -1 && errno == EINTR);
  if (n == -1) return fail(io_error(fd, errno));
  done = static_cast<std::uint32_t>(n);
  return true;
}

std::uint32_t set_file_pointer(file_handle file, std::int32_t distance,
                               file_origin origin) noexcept {
  int const fd = fd_of(file);
  off_t base = 0;
  if (origin == file_origin::current) {
    base = lseek(fd, 0, SEEK_CUR);
    if (base == -1) return seek_failure(windows_error_from_errno(errno));
  } else if (origin == file_origin::end) {
    struct stat status {};
    if (fstat(fd, &status) != 0) return seek_failure(windows_error_from_errno(errno));
    base = status.st_size;
  }
  off_t const target = base + distance;
  if (target < 0) return seek_failure(err::negative_seek);
  // Windows refuses a position that its 32-bit result could not report, and stays put.
  if (target > off_t{0xFFFFFFFF}) return seek_failure(err::invalid_parameter);
  off_t const position = lseek(fd, target, SEEK_SET);
  if (position == -1) return seek_failure(windows_error_from_errno(errno));
  auto const result = static_cast<std::uint32_t>(position);
  if (result == seek_failed) set_last_error(err::success);
  return result;
}

bool set_end_of_file(file_handle file) noexcept {
  int const fd = fd_of(file);
  off_t const position = lseek(fd, 0, SEEK_CUR);
  if (position == -1) return fail(windows_error_from_errno(errno));
  if (ftruncate(fd, position) == 0) return true;
  // A descriptor without write access, or a file that cannot be cut: Windows reports the
  // handle as unfit.
  if (errno == EINVAL || errno == EBADF) return fail(err::invalid_handle);
  return fail(windows_error_from_errno(errno));
}

bool flush_file(file_handle file) noexcept {
  int const fd = fd_of(file);
  int const mode = fcntl(fd, F_GETFL);
  if (mode == -1) return fail(windows_error_from_errno(errno));
  if ((mode & O_ACCMODE) == O_RDONLY) return fail(err::access_denied);
  if (fsync(fd) == 0) return true;
  // Terminals, pipes and devices have nothing to write to a disk, as a Windows console has not.
  if (errno == EINVAL || errno == EROFS) return fail(err::invalid_handle);
  return fail(windows_error_from_errno(errno));
}

bool last_write_time(file_handle file, std::uint64_t& file_time) noexcept {
  struct stat status {};
  if (fstat(fd_of(file), &status) != 0) return fail(windows_error_from_errno(errno));
  // From 1 January 1970 to 1 January 1601, in seconds.
  constexpr std::int64_t epoch_difference = 11644473600;
  constexpr std::int64_t ticks_per_second = 10000000;
  std::int64_t const seconds = static_cast<std::int64_t>(status.st_mtim.tv_sec) + epoch_difference;
  file_time = static_cast<std::uint64_t>(seconds * ticks_per_second + status.st_mtim.tv_nsec / 100);
  return true;
}

file_handle std_handle(std_stream which) noexcept {
  switch (which) {
    case std_stream::input:
      return handle_of(STDIN_FILENO);
    case std_stream::output:
      return handle_of(STDOUT_FILENO);
    case std_stream::error:
      break;
  }
  return handle_of(STDERR_FILENO);
}

}  // namespace wygl::os
