// sink_gate.h - the installed sink and the gate that lets it be replaced safely.

#ifndef QMTRC_SINK_GATE_H
#define QMTRC_SINK_GATE_H

#include <atomic>
#include <condition_variable>
#include <mutex>

#include <qmtrc/qmtrc.h>

namespace qmtrc {

// Writers pass the gate to call the sink; replace() closes the gate to new callers, waits
// for the calls in progress, then swaps the sink. Closing first means a replacement is not
// starved by a steady flow of records, which a reader-preferring shared mutex would allow.
class SinkGate {
 public:
  // A cheap check for the writers' path when no sink is installed.
  bool installed() const noexcept { return installed_.load(std::memory_order_acquire); }

  // Calls the sink, if any, with record. A record written by the sink itself is not handed
  // back to it, which would recurse without end. An exception from the sink is swallowed:
  // records are written from destructors, where one would terminate the process.
  void call(const qmtrc_record& record) noexcept;

  // Installs sink (null removes it); returns when no call of the previous sink is running.
  void replace(qmtrc_visit_fn sink, void* context) noexcept;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  qmtrc_visit_fn sink_ = nullptr;  // guarded by mutex_
  void* context_ = nullptr;        // guarded by mutex_
  unsigned running_ = 0;           // calls in progress; guarded by mutex_
  bool closed_ = false;            // a replacement is waiting; guarded by mutex_
  std::atomic<bool> installed_{false};
};

}  // namespace qmtrc

#endif  // QMTRC_SINK_GATE_H
