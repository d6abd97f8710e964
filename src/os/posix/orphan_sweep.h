// Removing the named segments (named_segment.h) whose holders have all ended.
//
// A segment's holders each hold a shared flock on it, and the kernel drops the flock of a
// process that ends, however it ends. A process killed as the last holder leaves the name
// and its pages behind; the sweep finds such names among the shared-memory objects of this
// library ("/dev/shm/wygl.*") and removes every one on which an exclusive flock can be had at
// once. It runs under the global lock (global_lock.h), which every creation, opening and
// closing of a segment takes, so it never meets a segment being made or closed.
//
// Cost: one read of the folder, and for each object of this library in it one open, one flock
// and one close; objects of other programs cost nothing more than their folder entry.

#ifndef WYGL_SRC_OS_POSIX_ORPHAN_SWEEP_H
#define WYGL_SRC_OS_POSIX_ORPHAN_SWEEP_H

namespace wygl::os {

// One pass over all segments. The caller holds the global lock. Returns how many were removed.
int sweep_orphan_segments() noexcept;

// The pass that creation and opening run: at the first in this process, and then at the
// first after a second has passed since the last pass, so that the cost stays bounded however
// often named objects are made, while a crash leaves nothing for longer than any process
// keeps using named objects. The caller holds the global lock.
void sweep_orphan_segments_when_due() noexcept;

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_POSIX_ORPHAN_SWEEP_H
