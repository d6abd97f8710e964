#include "sink_gate.h"

namespace qmtrc {
namespace {

thread_local bool t_in_sink = false;

}  // namespace

void SinkGate::call(const qmtrc_record& record) noexcept {
  if (t_in_sink) return;
  qmtrc_visit_fn sink;
  void* context;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !closed_; });
    sink = sink_;
    context = context_;
    if (!sink) return;
    ++running_;
  }
  t_in_sink = true;
  try {
    sink(&record, context);
  } catch (...) {
  }
  t_in_sink = false;
  std::lock_guard<std::mutex> lock(mutex_);
  if (--running_ == 0 && closed_) changed_.notify_all();
}

void SinkGate::replace(qmtrc_visit_fn sink, void* context) noexcept {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !closed_; });
  closed_ = true;
  changed_.wait(lock, [this] { return running_ == 0; });
  sink_ = sink;
  context_ = context;
  installed_.store(sink != nullptr, std::memory_order_release);
  closed_ = false;
  changed_.notify_all();
}

}  // namespace qmtrc
