// trace_file.h - the trace file that records are appended to.

#ifndef QMTRC_TRACE_FILE_H
#define QMTRC_TRACE_FILE_H

#include <cstdio>
#include <vector>

#include "record_format.h"

namespace qmtrc {

// Not synchronised: the recorder holds its file mutex around every call.
class TraceFile {
 public:
  TraceFile() = default;
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;
  ~TraceFile() { close(); }

  // What open gives for a file that holds something other than a trace of this version.
  static constexpr int kNotATrace = -1;

  // Closes the current file, then opens path for appending. An empty or new file gets the
  // file header; a file that holds anything but a trace of this format version is refused
  // (kNotATrace), so that records are never appended to an unrelated file. Returns 0, or the
  // errno of the system call that failed.
  int open(const char* path) noexcept;
  void close() noexcept;
  bool is_open() const noexcept { return file_ != nullptr; }

  // Appends one record with a single write and flushes it, so that the record reaches the
  // operating system whole before the writer goes on.
  bool write(const unsigned char (&header)[format::kRecordHeaderSize],
             const format::Item (&items)[3]) noexcept;

 private:
  std::FILE* file_ = nullptr;
  std::vector<unsigned char> staging_;
};

}  // namespace qmtrc

#endif  // QMTRC_TRACE_FILE_H
