#include "kv_service.h"

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include <wygl/qmgl_file_stream.h>
#include <wygl/qmgl_timer.h>

#include "kv_record.h"

namespace {

// How long open waits for its snapshot; the log's worker has nothing else to do then.
constexpr std::chrono::minutes snapshot_limit(10);

}  // namespace

// One periodic pass of the timer. Its call must not raise: an exception would end the timer
// thread, and with it every later pass.
struct kv_service::timer_pass : qmgl_callback<int> {
  enum kind_t { expiry, flush, compaction };

  timer_pass(kv_service& service, kind_t kind) : _service(service), _kind(kind) {}

  void call(int&) override {
    try {
      switch (_kind) {
        case expiry:
          _service._store.drop_expired(kv_now());
          break;
        case flush:
          _service._log.flush_to_disk();
          break;
        case compaction:
          _service._log.compact(_service._store, snapshot_limit);
          break;
      }
    } catch (...) {
      // A pass that fails is tried again on its next period.
    }
  }

  kv_service& _service;
  kind_t _kind;
};

kv_service::kv_service(std::string folder)
    : _folder(std::move(folder)), _log(_folder), _store(&_log) {}

kv_service::~kv_service() {
  close();
}

kv_open_report kv_service::open() {
  std::error_code made;
  std::filesystem::create_directories(_folder, made);
  kv_log::recover_files(_folder);
  kv_open_report report;
  std::string const path = kv_log::log_path(_folder);
  if (qmgl_file::exists(path.c_str())) {
    std::string const text = kv_log::read_all(path);
    std::size_t at = 0;
    for (;;) {
      kv_read_result const next = kv_read_record(text, at);
      if (next.status == kv_read_result::end) break;
      if (next.status == kv_read_result::damaged) {
        if (kv_record_follows(text, next.offset))
          throw kv_damaged_log(path + " is damaged at byte " + std::to_string(next.offset) + " (" +
                               next.problem +
                               ") and whole records follow; it is left as it is, and the "
                               "service does not start on it");
        report.dropped_tail = next.problem + " at byte " + std::to_string(next.offset);
        break;
      }
      _store.apply(next.change);
      ++report.records;
    }
  }
  _store.drop_expired(kv_now());
  report.keys = _store.size();
  _log.open();
  _open = true;
  if (!_log.compact(_store, snapshot_limit))
    throw std::runtime_error("cannot write the snapshot of the log: " + _log.failure());
  return report;
}

void kv_service::start_timers(kv_periods const& periods) {
  qmgl_timer& timer = qmgl_timer::getSelf();
  _timer_entries.push_back(
      timer.add_periodic(new timer_pass(*this, timer_pass::expiry), periods.expiry));
  _timer_entries.push_back(
      timer.add_periodic(new timer_pass(*this, timer_pass::flush), periods.flush));
  _timer_entries.push_back(
      timer.add_periodic(new timer_pass(*this, timer_pass::compaction), periods.compaction));
}

void kv_service::stop_timers() {
  for (long const id : _timer_entries)
    qmgl_timer::getSelf().remove(id);
  _timer_entries.clear();
}

void kv_service::close() {
  if (!_open) return;
  stop_timers();
  _log.close();
  _open = false;
}

void kv_service::connection_opened() {
  _connections.fetch_add(1);
  _open_connections.fetch_add(1);
}

void kv_service::connection_closed(kv_session& session) {
  forget(session);
  _open_connections.fetch_sub(1);
}
