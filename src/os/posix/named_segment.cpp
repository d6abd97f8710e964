#include "os/posix/named_segment.h"

#include <cerrno>
#include <mutex>
#include <new>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/error_codes.h"
#include "os/last_error.h"
#include "os/posix/errno_map.h"
#include "os/posix/global_lock.h"
#include "os/posix/object_name.h"
#include "os/posix/orphan_sweep.h"

namespace wygl::os {

struct named_segment {
  int fd;
  dev_t device;
  ino_t inode;
  std::string path;  // empty for a segment without a name
  object_kind kind;
  std::uint64_t payload_size;  // usable bytes
  void* base;
  std::size_t mapped_length;
  int claims;           // handles of this process
  named_segment* next;  // in the registry of this process's named segments
};

namespace {

// Marks a header whose segment is complete; written last. It also names the layout of the
// header and the payloads: a build whose layouts differ finds these segments of another kind,
// instead of reading them wrong. (0x6C677977 marked the layout whose events held a condition
// variable.)
constexpr std::uint32_t ready_mark = 0x32677977;

struct segment_header {
  std::uint32_t mark;
  std::uint32_t kind;
  std::uint64_t payload_size;  // as asked when it was made
};

// The named segments this process holds. Claims and releases run under the global lock,
// which already serialises them; the mutex makes that visible to the thread checkers.
std::mutex registry_mutex;
named_segment* registry = nullptr;

std::uint64_t page_size() noexcept {
  static std::uint64_t const size = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  return size;
}

std::uint64_t usable_size(object_kind kind, std::uint64_t asked) noexcept {
  if (kind != object_kind::mapping) return asked;
  return (asked + page_size() - 1) / page_size() * page_size();
}

// The part of a segment that stays mapped while it is held: the header, and the payload of
// a mutex or an event (a mapping's payload is shown through views).
std::size_t held_length(object_kind kind, std::uint64_t usable) noexcept {
  return static_cast<std::size_t>(page_size() + (kind == object_kind::mapping ? 0 : usable));
}

segment_claim failure(std::uint32_t code) noexcept {
  set_last_error(code);
  return {nullptr, nullptr, false};
}

segment_claim failure_from_errno(int error) noexcept {
  return failure(windows_error_from_errno(error));
}

void* payload_of(named_segment const* segment) noexcept {
  if (segment->kind == object_kind::mapping) return nullptr;
  return static_cast<unsigned char*>(segment->base) + page_size();
}

void register_segment(named_segment* segment) noexcept {
  std::lock_guard<std::mutex> guard(registry_mutex);
  segment->next = registry;
  registry = segment;
}

void unregister_segment(named_segment* segment) noexcept {
  for (named_segment** link = &registry; *link != nullptr; link = &(*link)->next) {
    if (*link == segment) {
      *link = segment->next;
      return;
    }
  }
}

// Another claim on a segment this process holds already.
bool share_registered(struct stat const& file, object_kind kind, segment_claim& claim) noexcept {
  std::lock_guard<std::mutex> guard(registry_mutex);
  for (named_segment* segment = registry; segment != nullptr; segment = segment->next) {
    if (segment->device != file.st_dev || segment->inode != file.st_ino) continue;
    if (segment->kind != kind) {
      claim = failure(err::invalid_handle);
    } else {
      ++segment->claims;
      claim = {segment, payload_of(segment), true};
    }
    return true;
  }
  return false;
}

// Fills in a segment whose file is mapped at base, with the one claim of its maker.
void record_mapping(named_segment& segment, int fd, struct stat const& file, object_kind kind,
                    std::uint64_t usable, void* base, std::size_t length) noexcept {
  segment.fd = fd;
  segment.device = file.st_dev;
  segment.inode = file.st_ino;
  segment.kind = kind;
  segment.payload_size = usable;
  segment.base = base;
  segment.mapped_length = length;
  segment.claims = 1;
}

// Takes over fd (and the name, which it removes on failure) and makes a new segment in it.
segment_claim make_segment(int fd, std::string const& path, object_kind kind,
                           std::uint64_t payload_size, payload_preparer prepare,
                           void* context) noexcept {
  std::uint64_t const usable = usable_size(kind, payload_size);
  std::size_t const length = held_length(kind, usable);
  auto* segment = new (std::nothrow) named_segment{};
  void* base = MAP_FAILED;
  int error = 0;
  // Under the global lock no other process locks the file: the shared lock is had at once.
  if (segment == nullptr) {
    error = ENOMEM;
  } else if (flock(fd, LOCK_SH | LOCK_NB) != 0 ||
             ftruncate(fd, static_cast<off_t>(page_size() + usable)) != 0) {
    error = errno;
  } else {
    base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED) error = errno;
  }
  if (error == 0 && prepare != nullptr)
    error = prepare(static_cast<unsigned char*>(base) + page_size(), context);
  struct stat file {};
  if (error == 0 && fstat(fd, &file) != 0) error = errno;
  if (error != 0) {
    if (base != MAP_FAILED) munmap(base, length);
    if (!path.empty()) shm_unlink(path.c_str());
    close(fd);
    delete segment;
    return failure_from_errno(error);
  }
  auto* header = static_cast<segment_header*>(base);
  header->kind = static_cast<std::uint32_t>(kind);
  header->payload_size = payload_size;
  header->mark = ready_mark;
  try {
    segment->path = path;
  } catch (std::bad_alloc const&) {
    munmap(base, length);
    if (!path.empty()) shm_unlink(path.c_str());
    close(fd);
    delete segment;
    return failure(err::not_enough_memory);
  }
  record_mapping(*segment, fd, file, kind, usable, base, length);
  if (!path.empty()) register_segment(segment);
  return {segment, payload_of(segment), false};
}

// Joins a live segment that another process made; takes over fd.
segment_claim join_segment(int fd, struct stat const& file, std::string const& path,
                           object_kind kind) noexcept {
  segment_header header{};
  bool const complete =
      flock(fd, LOCK_SH | LOCK_NB) == 0 &&
      pread(fd, &header, sizeof header, 0) == static_cast<ssize_t>(sizeof header) &&
      header.mark == ready_mark;
  std::uint64_t const usable = usable_size(kind, header.payload_size);
  if (!complete || header.kind != static_cast<std::uint32_t>(kind) ||
      static_cast<std::uint64_t>(file.st_size) < page_size() + usable) {
    close(fd);
    return failure(err::invalid_handle);
  }
  std::size_t const length = held_length(kind, usable);
  auto* segment = new (std::nothrow) named_segment{};
  void* base = segment == nullptr
                   ? MAP_FAILED
                   : mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  int const error = segment == nullptr ? ENOMEM : errno;
  bool named = false;
  if (base != MAP_FAILED) {
    try {
      segment->path = path;
      named = true;
    } catch (std::bad_alloc const&) {
      munmap(base, length);
    }
  }
  if (!named) {
    close(fd);
    delete segment;
    return base == MAP_FAILED ? failure_from_errno(error) : failure(err::not_enough_memory);
  }
  record_mapping(*segment, fd, file, kind, usable, base, length);
  register_segment(segment);
  return {segment, payload_of(segment), true};
}

segment_claim claim_named(std::string const& path, object_kind kind, bool create,
                          std::uint64_t payload_size, payload_preparer prepare,
                          void* context) noexcept {
  int fd = shm_open(path.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd >= 0) {
    struct stat file {};
    if (fstat(fd, &file) != 0) {
      int const error = errno;
      close(fd);
      return failure_from_errno(error);
    }
    segment_claim claim{};
    if (share_registered(file, kind, claim)) {
      close(fd);
      return claim;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      // No process holds it: its holders died. It counts as absent.
      if (!create) {
        shm_unlink(path.c_str());
        close(fd);
        return failure(err::file_not_found);
      }
      if (ftruncate(fd, 0) != 0) {
        int const error = errno;
        close(fd);
        return failure_from_errno(error);
      }
      return make_segment(fd, path, kind, payload_size, prepare, context);
    }
    if (errno != EWOULDBLOCK) {
      int const error = errno;
      close(fd);
      return failure_from_errno(error);
    }
    return join_segment(fd, file, path, kind);
  }
  if (errno != ENOENT) return failure_from_errno(errno);
  if (!create) return failure(err::file_not_found);
  fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return failure_from_errno(errno);
  // The umask has narrowed the mode; every user may use the object.
  fchmod(fd, 0666);
  return make_segment(fd, path, kind, payload_size, prepare, context);
}

void dispose(named_segment* segment, bool keep_mapped, bool may_remove_name) noexcept {
  if (!keep_mapped) munmap(segment->base, segment->mapped_length);
  if (may_remove_name && flock(segment->fd, LOCK_EX | LOCK_NB) == 0)
    shm_unlink(segment->path.c_str());
  close(segment->fd);
  delete segment;
}

}  // namespace

segment_claim claim_segment(char const* name, object_kind kind, bool create,
                            std::uint64_t payload_size, payload_preparer prepare,
                            void* context) noexcept {
  if (name == nullptr || *name == '\0') {
    // As on Windows: creating without a name makes an object of this process alone; opening
    // needs a name.
    if (!create) return failure(name == nullptr ? err::invalid_parameter : err::invalid_handle);
    int const fd = memfd_create("wygl", MFD_CLOEXEC);
    if (fd < 0) return failure_from_errno(errno);
    return make_segment(fd, std::string(), kind, payload_size, prepare, context);
  }
  std::string path;
  std::uint32_t code;
  try {
    code = shared_memory_name(name, path);
  } catch (std::bad_alloc const&) {
    code = err::not_enough_memory;
  }
  if (code != err::success) return failure(code);
  global_lock const lock;
  if (!lock.held()) return {nullptr, nullptr, false};
  sweep_orphan_segments_when_due();
  return claim_named(path, kind, create, payload_size, prepare, context);
}

void release_segment(named_segment* segment, bool keep_mapped) noexcept {
  if (segment->path.empty()) {
    dispose(segment, keep_mapped, false);
    return;
  }
  // Without the global lock the name stays: removing it could race with an opener. The next
  // create or open finds the segment unheld and treats it as absent.
  global_lock const lock;
  {
    std::lock_guard<std::mutex> guard(registry_mutex);
    if (--segment->claims > 0) return;
    unregister_segment(segment);
  }
  dispose(segment, keep_mapped, lock.held());
}

int segment_file(named_segment const* segment) noexcept {
  return segment->fd;
}

std::uint64_t segment_payload_size(named_segment const* segment) noexcept {
  return segment->payload_size;
}

std::uint64_t segment_payload_offset() noexcept {
  return page_size();
}

}  // namespace wygl::os
