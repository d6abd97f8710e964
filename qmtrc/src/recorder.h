// recorder.h - the library's state: the ring, the trace file, the sink and the counters.

#ifndef QMTRC_RECORDER_H
#define QMTRC_RECORDER_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include <qmtrc/qmtrc.h>
#include "record_format.h"
#include "ring.h"
#include "sink_gate.h"
#include "trace_file.h"

namespace qmtrc {

class Recorder {
 public:
  static constexpr std::size_t kDefaultCapacity = std::size_t{4} << 20;

  // The one recorder. It is built on first use, whichever library calls first, and never
  // destroyed, so records written from other libraries' static destructors at exit still
  // find it whole.
  static Recorder& instance() noexcept;

  void write(std::uint32_t kind, std::uint32_t tracepoint, std::uint64_t object,
             const format::Item (&items)[3]) noexcept;
  std::size_t drain(qmtrc_visit_fn visit, void* context);
  void clear() noexcept;
  std::size_t set_capacity(std::size_t bytes) noexcept;
  std::uint64_t lost() const noexcept { return lost_.load(std::memory_order_relaxed); }
  // 0, or why the file cannot be used: an errno value, or TraceFile::kNotATrace. A null path
  // stops writing and gives 0.
  int set_file(const char* path) noexcept;
  void set_sink(qmtrc_visit_fn sink, void* context) noexcept { sink_.replace(sink, context); }

 private:
  Recorder() noexcept = default;

  void count_lost(std::uint64_t n) noexcept { lost_.fetch_add(n, std::memory_order_relaxed); }

  // Lock order: file_mutex_, then ring_mutex_. The file mutex is held across the ring
  // insertion so that the file receives records in sequence order.
  std::mutex file_mutex_;
  TraceFile file_;                      // guarded by file_mutex_
  std::atomic<bool> file_open_{false};  // lets writers skip file_mutex_ when no file is set

  std::mutex ring_mutex_;
  Ring ring_{kDefaultCapacity};      // guarded by ring_mutex_
  std::uint64_t next_sequence_ = 1;  // guarded by ring_mutex_
  std::uint32_t next_thread_ = 1;    // guarded by ring_mutex_

  std::atomic<std::uint64_t> lost_{0};
  SinkGate sink_;
};

}  // namespace qmtrc

#endif  // QMTRC_RECORDER_H
