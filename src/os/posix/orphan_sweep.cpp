#include "os/posix/orphan_sweep.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace wygl::os {
namespace {

// Where glibc keeps the objects of shm_open.
constexpr char shared_memory_folder[] = "/dev/shm";
// The names of this library's objects there (object_name.h); the global lock's file has the
// same prefix, and is skipped because its holder, this process, keeps it locked.
constexpr char library_prefix[] = "wygl.";

constexpr std::int64_t sweep_interval_ns = 1000000000;

std::int64_t monotonic_now_ns() noexcept {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Removes the entry name of folder when no process holds it.
bool remove_if_orphaned(int folder, char const* name) noexcept {
  int const fd = openat(folder, name, O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  bool const orphaned = flock(fd, LOCK_EX | LOCK_NB) == 0 && unlinkat(folder, name, 0) == 0;
  close(fd);
  return orphaned;
}

}  // namespace

int sweep_orphan_segments() noexcept {
  DIR* const folder = opendir(shared_memory_folder);
  if (folder == nullptr) return 0;
  int removed = 0;
  while (dirent const* entry = readdir(folder)) {
    if (std::strncmp(entry->d_name, library_prefix, sizeof library_prefix - 1) != 0) continue;
    if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) continue;
    if (remove_if_orphaned(dirfd(folder), entry->d_name)) ++removed;
  }
  closedir(folder);
  return removed;
}

void sweep_orphan_segments_when_due() noexcept {
  // Read and written under the global lock; atomic for the threads of this process that
  // claim under it one after another.
  static std::atomic<std::int64_t> next_sweep_ns{0};
  std::int64_t const now = monotonic_now_ns();
  std::int64_t const due = next_sweep_ns.load(std::memory_order_relaxed);
  if (due != 0 && now < due) return;
  sweep_orphan_segments();
  next_sweep_ns.store(monotonic_now_ns() + sweep_interval_ns, std::memory_order_relaxed);
}

}  // namespace wygl::os
