// Holds a qmgl_guard for the life of a scope.

#ifndef WYGL_KV_HOLD_H
#define WYGL_KV_HOLD_H

#include <wygl/qmgl_sync.h>

class kv_hold {
 public:
  explicit kv_hold(qmgl_guard& guard) noexcept : _guard(guard) { _guard.enterCriticalRegion(); }
  ~kv_hold() { _guard.leaveCriticalRegion(); }
  kv_hold(kv_hold const&) = delete;
  kv_hold& operator=(kv_hold const&) = delete;

 private:
  qmgl_guard& _guard;
};

#endif  // WYGL_KV_HOLD_H
