#include "kv_log.h"

#include <fstream>
#include <future>
#include <stdexcept>
#include <utility>

#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_file.h>

#include "kv_hold.h"
#include "kv_record.h"

// The worker's pieces of work. Each catches what its work raises: an exception that left a
// message would end the worker, and every later change would wait in its queue.

struct kv_log::append_task : qmgl_task_message_base {
  append_task(kv_log& log, kv_change const& change) : _log(log), _change(change) {}
  void execute() override { _log.append(_change); }
  qmgl_task_message_base* clone() const override { return new append_task(*this); }

  kv_log& _log;
  kv_change _change;
};

struct kv_log::flush_task : qmgl_task_message_base {
  using done_t = std::promise<std::optional<std::uint32_t>>;

  explicit flush_task(kv_log& log, std::shared_ptr<done_t> done = nullptr)
      : _log(log), _done(std::move(done)) {}
  void execute() override {
    _log.flush_now();
    if (_done == nullptr) return;
    if (_log.failed())
      _done->set_value(std::nullopt);
    else
      _done->set_value(_log.flushed_seq());
  }
  qmgl_task_message_base* clone() const override { return new flush_task(*this); }

  kv_log& _log;
  std::shared_ptr<done_t> _done;
};

struct kv_log::compact_task : qmgl_task_message_base {
  using done_t = std::promise<std::optional<std::size_t>>;

  compact_task(kv_log& log, kv_store& store, std::shared_ptr<done_t> done)
      : _log(log), _store(store), _done(std::move(done)) {}
  void execute() override {
    std::optional<std::size_t> keys;
    try {
      if (!_log.failed()) keys = _log.write_snapshot(_store);
    } catch (exc_t const&) {
      // The old log is still in use (write_snapshot keeps it on every failure but its own).
    } catch (std::exception const&) {
    }
    _done->set_value(keys);
  }
  qmgl_task_message_base* clone() const override { return new compact_task(*this); }

  kv_log& _log;
  kv_store& _store;
  std::shared_ptr<done_t> _done;
};

namespace {

template <class T>
std::optional<T> wait_for(std::future<std::optional<T>> result, std::chrono::milliseconds limit) {
  if (result.wait_for(limit) != std::future_status::ready) return std::nullopt;
  return result.get();
}

}  // namespace

kv_log::kv_log(std::string folder) : _folder(std::move(folder)) {}

kv_log::~kv_log() {
  close();
}

std::string kv_log::log_path(std::string const& folder) {
  return folder + "/kv.log";
}

std::string kv_log::snapshot_path(std::string const& folder) {
  return folder + "/kv.log.new";
}

std::string kv_log::read_all(std::string const& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::string text;
  char chunk[65536];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0)
    text.append(chunk, static_cast<std::size_t>(in.gcount()));
  if (in.bad()) throw std::runtime_error("cannot read " + path);
  return text;
}

void kv_log::recover_files(std::string const& folder) {
  std::string const fresh = snapshot_path(folder);
  if (!qmgl_file::exists(fresh.c_str())) return;
  std::string const current = log_path(folder);
  if (qmgl_file::exists(current.c_str()))
    qmgl_file::remove(fresh.c_str());
  else
    qmgl_file::rename(fresh.c_str(), current.c_str());
}

void kv_log::open() {
  _file = std::make_unique<qmgl_output_file>(log_path(_folder).c_str(), qmgl_output_file::append);
  _doer = std::make_unique<qmgl_task_doer>();
}

void kv_log::close() {
  if (_doer == nullptr) return;
  // The task doer's destructor runs what is still queued, here, once its worker has ended.
  _doer.reset();
  flush_now();
  _file.reset();
}

void kv_log::record(kv_change const& change) {
  _doer->add_task(append_task(*this, change));
}

void kv_log::flush_to_disk() {
  if (_unflushed.load()) _doer->add_task(flush_task(*this));
}

std::optional<std::uint32_t> kv_log::sync(std::chrono::milliseconds limit) {
  auto done = std::make_shared<flush_task::done_t>();
  auto result = done->get_future();
  _doer->add_task(flush_task(*this, std::move(done)));
  return wait_for(std::move(result), limit);
}

std::optional<std::size_t> kv_log::compact(kv_store& store, std::chrono::milliseconds limit) {
  auto done = std::make_shared<compact_task::done_t>();
  auto result = done->get_future();
  _doer->add_task(compact_task(*this, store, std::move(done)));
  return wait_for(std::move(result), limit);
}

std::string kv_log::failure() const {
  kv_hold hold(_failure_guard);
  return _failure;
}

void kv_log::fail(std::string const& what) {
  kv_hold hold(_failure_guard);
  if (_failure.empty()) _failure = what;
  _failed.store(true);
}

void kv_log::append(kv_change const& change) {
  if (failed() || _file == nullptr) return;
  if (_have_snapshot && !kv_seq_after(change.seq, _snapshot_seq)) return;
  try {
    kv_write_record(*_file, change);
    _file->flush();
    _written_seq.store(change.seq);
    _unflushed.store(true);
  } catch (exc_t const& e) {
    fail(std::string("cannot write the log: ") + e.message);
  }
}

void kv_log::flush_now() {
  if (failed() || _file == nullptr) return;
  try {
    if (_unflushed.exchange(false)) _file->flush_to_disk();
    _flushed_seq.store(_written_seq.load());
  } catch (exc_t const& e) {
    fail(std::string("cannot flush the log: ") + e.message);
  }
}

bool kv_log::reads_back(std::string const& path, std::size_t records) {
  std::string const text = read_all(path);
  std::size_t at = 0;
  std::size_t read = 0;
  for (;;) {
    kv_read_result const next = kv_read_record(text, at, false);
    if (next.status != kv_read_result::record)
      return next.status == kv_read_result::end && read == records;
    ++read;
  }
}

std::size_t kv_log::write_snapshot(kv_store& store) {
  kv_snapshot const shot = store.snapshot();
  std::string const fresh = snapshot_path(_folder);
  std::string const current = log_path(_folder);
  std::size_t keys = 0;
  try {
    qmgl_output_file out(fresh.c_str(), qmgl_output_file::truncate);
    kv_change base;
    base.kind = kv_change::base;
    base.seq = shot.seq;
    kv_write_record(out, base);
    for (kv_change const& change : shot.changes) {
      kv_write_record(out, change);
      if (change.kind == kv_change::put) ++keys;
    }
    out.flush_to_disk();
  } catch (exc_t const&) {
    if (qmgl_file::exists(fresh.c_str())) qmgl_file::remove(fresh.c_str());
    throw;
  }
  // The snapshot replaces the log only once it is known to read back whole.
  if (!reads_back(fresh, 1 + shot.changes.size())) {
    qmgl_file::remove(fresh.c_str());
    throw std::runtime_error("the snapshot did not read back whole");
  }
  // The old log is closed before the rename, which a file held open may not allow.
  _file->flush_to_disk();
  _file.reset();
  try {
    qmgl_file::rename(fresh.c_str(), current.c_str(), qmgl_file::force);
  } catch (exc_t const& e) {
    fail(std::string("cannot put the snapshot in place: ") + e.message);
    throw;
  }
  try {
    _file = std::make_unique<qmgl_output_file>(current.c_str(), qmgl_output_file::append);
  } catch (exc_t const& e) {
    fail(std::string("cannot open the log again: ") + e.message);
    throw;
  }
  _snapshot_seq = shot.seq;
  _have_snapshot = true;
  _written_seq.store(shot.seq);
  _flushed_seq.store(shot.seq);
  _unflushed.store(false);
  _compactions.fetch_add(1);
  return keys;
}
