// The way in for requests: open while the service runs, closed when it stops; the stopping
// thread waits for the requests that are in.
//
//   kv_gate::pass pass(gate);
//   if (pass.enter()) { answer the request }   // left when pass ends
//   ...
//   gate.close_and_wait(5000);                   // no new entries; returns when all have left,
//                                                // or after 5 s
//
// Thread safety: any number of threads may enter and leave; one thread closes.

#ifndef WYGL_KV_GATE_H
#define WYGL_KV_GATE_H

#include <wygl/qmgl_sync.h>

class kv_gate {
 public:
  // One entry, left when the pass ends.
  class pass {
   public:
    explicit pass(kv_gate& gate) noexcept : _gate(gate) {}
    ~pass() {
      if (_inside) _gate.leave();
    }
    pass(pass const&) = delete;
    pass& operator=(pass const&) = delete;
    // Enters, unless the gate is closed; true when inside.
    bool enter();

   private:
    kv_gate& _gate;
    bool _inside = false;
  };

  kv_gate() = default;
  kv_gate(kv_gate const&) = delete;
  kv_gate& operator=(kv_gate const&) = delete;

  // Lets nobody in any more, then waits until everybody inside has left, at most limit_ms
  // milliseconds (-1: without limit). True when all have left.
  bool close_and_wait(long limit_ms = -1);

 private:
  bool enter();
  void leave();

  qmgl_guard _guard;
  int _inside = 0;
  bool _closed = false;
  qmgl_sync_sema_private _emptied;  // posted once closed and empty
};

#endif  // WYGL_KV_GATE_H
