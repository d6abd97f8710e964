// Shared-memory segments that hold the named objects of the POSIX backend.
//
// A segment is a shared-memory object (see object_name.h for its name) of one header page,
// which records the object's kind and size, followed by the payload: a mutex_state, an
// event_state or the bytes of a mapping (rounded up to whole pages, which views may use as on
// Windows). Creating a name that exists as another kind, or opening it as another kind, fails
// with ERROR_INVALID_HANDLE (6).
//
// Lifetime: every process that has handles to a segment maps it once and holds one shared
// flock on it. The process's last close tries for an exclusive flock without waiting;
// obtaining it means that no other process holds the segment, and the name is removed: the
// last close destroys the object. A segment whose holders all died is unlocked although its
// name remains; the next create or open of that name finds it so, and treats it as absent
// (open fails, and create makes a new object in its place), and the orphan sweep
// (orphan_sweep.h), which creates and opens run now and then, removes it whatever its name.
// The global lock (global_lock.h) serialises all of this among processes; when it cannot be
// had within its time limit, creating and opening fail with ERROR_TIMEOUT (1460), and a close
// leaves the name to the sweep.
//
// A segment without a name (a mapping created with no name) is a memory file of this process
// alone, with the same layout.
//
// Thread safety: all functions may be called from any thread.

#ifndef WYGL_SRC_OS_POSIX_NAMED_SEGMENT_H
#define WYGL_SRC_OS_POSIX_NAMED_SEGMENT_H

#include <cstdint>

#include "os/posix/object_record.h"

namespace wygl::os {

struct named_segment;

// Prepares the payload of a new segment; returns 0 or an errno.
using payload_preparer = int (*)(void* payload, void* context) noexcept;

struct segment_claim {
  named_segment* segment;  // null on failure, with the last error set
  void* payload;           // null for mappings, whose payload is shown through views
  bool existed;
};

// Finds the segment named name (null or empty: makes one without a name) of the given kind
// or, when create is true and there is none, makes it with payload_size bytes prepared by
// prepare. The payload of a mutex or an event is mapped for as long as the segment is held.
segment_claim claim_segment(char const* name, object_kind kind, bool create,
                            std::uint64_t payload_size, payload_preparer prepare,
                            void* context) noexcept;

// Gives up one claim. keep_mapped leaves the payload mapped after the process's last claim
// is gone (see mutex_object in mutex.cpp for why).
void release_segment(named_segment* segment, bool keep_mapped) noexcept;

// For views of a mapping: the segment's file and the usable size of its payload.
int segment_file(named_segment const* segment) noexcept;
std::uint64_t segment_payload_size(named_segment const* segment) noexcept;
// The offset of the payload in the file.
std::uint64_t segment_payload_offset() noexcept;

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_POSIX_NAMED_SEGMENT_H
