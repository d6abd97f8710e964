#include "kv_gate.h"

#include "kv_hold.h"

bool kv_gate::pass::enter() {
  if (!_inside) _inside = _gate.enter();
  return _inside;
}

bool kv_gate::enter() {
  kv_hold hold(_guard);
  if (_closed) return false;
  ++_inside;
  return true;
}

void kv_gate::leave() {
  kv_hold hold(_guard);
  if (--_inside == 0 && _closed) _emptied.post();
}

bool kv_gate::close_and_wait(long limit_ms) {
  {
    kv_hold hold(_guard);
    _closed = true;
    if (_inside == 0) return true;
  }
  return _emptied.wait(limit_ms) == qmgl_wait_no_error;
}
