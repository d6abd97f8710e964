// Waiting in tests for a trace record that another thread writes.
//
//   trace_capture capture(0x8);
//   record_watch watch(0x06040000, 0x14220700);  // "error text" of the task doer's worker
//   ... start what writes it ...
//   ASSERT_TRUE(watch.seen_within(20000));
//
// The watch installs the trace library's sink for its lifetime (one watch at a time); the
// records still reach the ring, so a trace_capture sees them too.

#ifndef WYGL_TESTS_SUPPORT_RECORD_WATCH_H
#define WYGL_TESTS_SUPPORT_RECORD_WATCH_H

#include <cstdint>

#include <qmtrc/qmtrc.h>
#include <wygl/qmgl_sync.h>

class record_watch {
 public:
  record_watch(std::uint32_t kind, std::uint32_t tracepoint)
      : _kind(kind), _tracepoint(tracepoint) {
    qmtrc_set_sink(&record_watch::look, this);
  }
  ~record_watch() { qmtrc_set_sink(nullptr, nullptr); }
  record_watch(record_watch const&) = delete;
  record_watch& operator=(record_watch const&) = delete;

  // True once the record has been written, waiting at most timeout_ms for it.
  bool seen_within(long timeout_ms) { return _seen.wait(timeout_ms) == qmgl_wait_no_error; }

 private:
  static void look(qmtrc_record const* record, void* context) {
    auto* self = static_cast<record_watch*>(context);
    if (record->kind == self->_kind && record->tracepoint == self->_tracepoint) self->_seen.post();
  }

  std::uint32_t _kind;
  std::uint32_t _tracepoint;
  qmgl_sync_sema_private _seen;
};

#endif  // WYGL_TESTS_SUPPORT_RECORD_WATCH_H
