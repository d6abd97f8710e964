// Holding a critical region for a block: it is left on every way out, exceptions included.

#ifndef WYGL_SRC_QMGL_QMGL_GUARD_HOLD_H
#define WYGL_SRC_QMGL_QMGL_GUARD_HOLD_H

#include <wygl/qmgl_sync.h>

class qmgl_guard_hold {
 public:
  explicit qmgl_guard_hold(qmgl_guard& guard) noexcept : _guard(guard) {
    _guard.enterCriticalRegion();
  }
  ~qmgl_guard_hold() { _guard.leaveCriticalRegion(); }
  qmgl_guard_hold(qmgl_guard_hold const&) = delete;
  qmgl_guard_hold& operator=(qmgl_guard_hold const&) = delete;

 private:
  qmgl_guard& _guard;
};

#endif  // WYGL_SRC_QMGL_QMGL_GUARD_HOLD_H
