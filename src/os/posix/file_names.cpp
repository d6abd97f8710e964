#include "os/file_names.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/error_codes.h"
#include "os/file.h"
#include "os/last_error.h"
#include "os/posix/errno_map.h"
#include "os/posix/file_descriptor.h"
#include "os/posix/file_path.h"
#include "os/posix/file_share.h"

namespace wygl::os {
namespace {

using posix::deletion_hold;
using posix::error_for_path;
using posix::host_path;

bool fail(std::uint32_t code) {
  set_last_error(code);
  return false;
}

bool is_empty(char const* name) {
  return name == nullptr || *name == '\0';
}

// Writes all of data, over as many writes as the system needs.
bool write_all(file_handle file, char const* data, std::uint32_t length) {
  while (length > 0) {
    std::uint32_t written = 0;
    if (!write_file(file, data, length, written)) return false;
    data += written;
    length -= written;
  }
  return true;
}

bool copy_contents(file_handle from, file_handle to) {
  char block[65536];
  for (;;) {
    std::uint32_t n = 0;
    if (!read_file(from, block, sizeof block, n)) return false;
    if (n == 0) return true;
    if (!write_all(to, block, n)) return false;
  }
}

// The copy keeps the source's times, as a Windows copy keeps its last-write time.
void copy_times(file_handle from, file_handle to) {
  struct stat status {};
  if (fstat(posix::fd_of(from), &status) != 0) return;
  timespec const times[2] = {status.st_atim, status.st_mtim};
  futimens(posix::fd_of(to), times);
}

bool same_file(struct stat const& a, struct stat const& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Renames without replacing: atomically where the file system can, else after a test.
bool rename_if_free(char const* from, char const* to, bool to_exists) {
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (to_exists) {
    errno = EEXIST;
    return false;
  }
  return rename(from, to) == 0;
}

// A name beside path, in the same folder, that no file has: path followed by a mark of this
// process and a count.
std::string fresh_sibling(char const* path) {
  static std::atomic<unsigned> count{0};
  for (;;) {
    std::string name = std::string(path) + ".wygl-" + std::to_string(getpid()) + "-" +
                       std::to_string(count.fetch_add(1, std::memory_order_relaxed));
    struct stat status {};
    if (lstat(name.c_str(), &status) != 0) return name;
  }
}

// A move to another volume: a copy, then the source deleted. A copy that is to replace an
// existing file is made beside it under a fresh name and renamed over it in one step, so that
// the file it replaces stays whole until the copy is complete.
bool move_across_volumes(char const* from, char const* to, bool replace) {
  if (!replace) return copy_file(from, to, true) && delete_file(from);
  std::string copy;
  try {
    copy = fresh_sibling(host_path(to));
  } catch (std::bad_alloc const&) {
    return fail(err::not_enough_memory);
  }
  if (!copy_file(from, copy.c_str(), true)) return false;
  deletion_hold target_hold;
  bool const free = target_hold.take(host_path(to));
  if (!free || rename(copy.c_str(), host_path(to)) != 0) {
    std::uint32_t const error = free ? windows_error_from_errno(errno) : err::access_denied;
    unlink(copy.c_str());
    return fail(error);
  }
  target_hold.release();
  return delete_file(from);
}

}  // namespace

bool copy_file(char const* from, char const* to, bool fail_if_exists) noexcept {
  if (is_empty(from) || is_empty(to)) return fail(err::path_not_found);
  file_handle source = nullptr;
  if (!open_file(from, file_read_access, file_share_read, file_creation::open_existing, nullptr,
                 source))
    return false;
  file_handle target = nullptr;
  auto const how = fail_if_exists ? file_creation::create_new : file_creation::create_always;
  if (!open_file(to, file_write_access, 0, how, nullptr, target)) {
    std::uint32_t const error = last_error();
    close_file(source);
    return fail(error);
  }
  bool const copied = copy_contents(source, target);
  std::uint32_t const error = last_error();
  if (copied) copy_times(source, target);
  close_file(source);
  close_file(target);
  if (copied) return true;
  // No half-written copy is left behind.
  unlink(host_path(to));
  return fail(error);
}

bool move_file(char const* from, char const* to, std::uint32_t flags) noexcept {
  if (is_empty(from) || is_empty(to)) return fail(err::path_not_found);
  char const* const source = host_path(from);
  char const* const target = host_path(to);
  struct stat source_status {};
  if (lstat(source, &source_status) != 0) return fail(error_for_path(errno, source));
  struct stat target_status {};
  bool const target_exists = lstat(target, &target_status) == 0;
  if (target_exists && same_file(source_status, target_status)) return true;

  bool const replace = (flags & move_replace_existing) != 0;
  if (replace && target_exists && S_ISDIR(target_status.st_mode)) return fail(err::access_denied);

  // As on Windows: a file that an opener holds cannot move (32), nor be replaced (5). The
  // replaced file goes only in the rename that puts the source in its place.
  deletion_hold source_hold;
  if (!source_hold.take(source)) return false;
  deletion_hold target_hold;
  if (replace && target_exists && !target_hold.take(target)) return fail(err::access_denied);
  bool moved = false;
  if (replace) {
    moved = rename(source, target) == 0;
  } else {
    moved = rename_if_free(source, target, target_exists);
    if (!moved && errno == EEXIST) return fail(err::already_exists);
  }
  if (moved) return true;
  if (errno == EXDEV && (flags & move_copy_allowed) != 0 && S_ISREG(source_status.st_mode)) {
    // The copy opens the source, which the holds would refuse.
    source_hold.release();
    target_hold.release();
    return move_across_volumes(from, to, replace);
  }
  // The source was there a moment ago: a missing name now is the target's folder.
  if (errno == ENOENT) return fail(err::path_not_found);
  return fail(windows_error_from_errno(errno));
}

bool delete_file(char const* name) noexcept {
  if (is_empty(name)) return fail(err::path_not_found);
  char const* const path = host_path(name);
  deletion_hold hold;
  if (!hold.take(path)) return false;
  if (unlink(path) == 0) return true;
  return fail(error_for_path(errno, path));
}

bool file_attributes_exist(char const* name) noexcept {
  if (is_empty(name)) return fail(err::path_not_found);
  char const* const path = host_path(name);
  struct stat status {};
  if (stat(path, &status) == 0) return true;
  return fail(error_for_path(errno, path));
}

std::uint32_t full_path_name(char const* name, std::uint32_t buffer_size, char* buffer) noexcept {
  if (is_empty(name)) return 0;
  try {
    std::string full;
    if (!posix::lexical_full_path(host_path(name), full)) return 0;
    auto const length = static_cast<std::uint32_t>(full.size());
    if (buffer_size <= length) return length + 1;
    std::memcpy(buffer, full.c_str(), full.size() + 1);
    return length;
  } catch (std::bad_alloc const&) {
    set_last_error(err::not_enough_memory);
    return 0;
  }
}

}  // namespace wygl::os
