// The store's log: every change appended to a file by a task doer, so that no request waits
// for the disk, with the file flushed to the device at most once a second.
//
// The folder holds kv.log, the records of kv_record.h in sequence order. Compaction writes
// the store's snapshot to kv.log.new, flushes it to the device, reads it back (framing and
// checksums: a snapshot that does not read back whole is dropped and the old log stays in
// use), and renames it over kv.log;
// records of changes that the snapshot holds already are not appended afterwards. At start,
// recover_files settles what a crash during that rename left: a kv.log.new beside a kv.log is
// an unfinished snapshot and goes; a kv.log.new alone is a finished one whose rename did not
// happen.
//
// Every write runs on the log's own worker thread, in the order the changes were recorded.
// Records reach the system at once (a killed server loses none of them); they reach the device
// when flush_to_disk runs, which flushed_seq reports.
//
// A failure of the file is kept (failure()) and stops further writes: a log that has lost a
// record must not go on as if it had not.
//
// Thread safety: record, flush_to_disk, sync and compact may be called from any thread;
// open, close and the destructor from one controlling thread.

#ifndef WYGL_KV_LOG_H
#define WYGL_KV_LOG_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <wygl/qmgl_file_stream.h>
#include <wygl/qmgl_sync.h>
#include <wygl/qmgl_task_doer.h>

#include "kv_store.h"

class kv_log : public kv_change_sink {
 public:
  // The log of the folder, not yet open.
  explicit kv_log(std::string folder);
  // Closes the log if close has not.
  ~kv_log() override;
  kv_log(kv_log const&) = delete;
  kv_log& operator=(kv_log const&) = delete;

  // The files of a folder.
  static std::string log_path(std::string const& folder);
  static std::string snapshot_path(std::string const& folder);
  // Settles the files a crash during compaction may have left (see above). Raises exc_t.
  static void recover_files(std::string const& folder);
  // Every byte of the file at path. Raises std::runtime_error when it cannot be read.
  static std::string read_all(std::string const& path);

  // Opens kv.log for appending. Raises exc_t.
  void open();
  // Runs what is queued, flushes the file to the device and closes it. No record may come
  // after.
  void close();

  // Queues the change for appending.
  void record(kv_change const& change) override;
  // Queues a flush to the device, unless nothing was written since the last one.
  void flush_to_disk();
  // Waits until every change recorded so far is on the device, at most limit; the sequence
  // number flushed then, or nothing when the limit passed or the log failed.
  std::optional<std::uint32_t> sync(std::chrono::milliseconds limit);
  // Writes store's snapshot in place of the log and waits for it, at most limit; the number
  // of keys written, or nothing when the limit passed or it failed (failure() says why; the
  // old log then stays in use).
  std::optional<std::size_t> compact(kv_store& store, std::chrono::milliseconds limit);

  // The last sequence number written to the system, and flushed to the device.
  std::uint32_t written_seq() const { return _written_seq.load(); }
  std::uint32_t flushed_seq() const { return _flushed_seq.load(); }
  std::uint64_t compactions() const { return _compactions.load(); }
  // Whether the file has failed, and how (the first failure), or empty.
  bool failed() const { return _failed.load(); }
  std::string failure() const;

 private:
  struct append_task;
  struct flush_task;
  struct compact_task;

  // On the worker.
  void append(kv_change const& change);
  void flush_now();
  std::size_t write_snapshot(kv_store& store);
  static bool reads_back(std::string const& path, std::size_t records);
  void fail(std::string const& what);

  std::string const _folder;
  std::unique_ptr<qmgl_output_file> _file;  // used by the worker only, after open
  std::uint32_t _snapshot_seq = 0;          // the worker's: records up to it are in the file
  bool _have_snapshot = false;
  std::atomic<std::uint32_t> _written_seq{0};
  std::atomic<std::uint32_t> _flushed_seq{0};
  std::atomic<std::uint64_t> _compactions{0};
  std::atomic<bool> _unflushed{false};
  std::atomic<bool> _failed{false};
  mutable qmgl_guard _failure_guard;
  std::string _failure;
  std::unique_ptr<qmgl_task_doer> _doer;
};

#endif  // WYGL_KV_LOG_H
