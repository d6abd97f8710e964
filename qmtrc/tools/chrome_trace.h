// chrome_trace.h - trace records as a Chrome trace-event timeline (JSON), which Perfetto
// (ui.perfetto.dev) and chrome://tracing open.
//
// Each thread of a run is one track (pid: the run's number from 1, tid: the thread number).
// The entry and exit records of an operation become a duration: a "B" event at the entry and
// an "E" event at the exit. Every other record is an instant event ("i", scope "t") named
// "<kind> <class>::<operation>". Times (ts) are microseconds since the file's first record;
// otherData.start gives that record's time in UTC.
//
// Arguments of a "B" or "i" event: "seq" (the record's sequence number), "object", and the
// record's data: the code of an exit record ("code": "0x00000000"), otherwise the non-empty
// data items as "text", "text2" and "text3". An "E" event adds "exit" (the kind's name) and
// the exit's data to its duration. An exit whose tracepoint has no open entry on its thread
// becomes an instant event; an entry left open inside an operation that exits is ended there
// with "exit": "none"; an entry still open at the end of the trace stays open.
//
//   ChromeTrace chrome(std::cout);
//   chrome.add(record, first_record_time, 1);   // for each record, in file order
//   chrome.finish(first_record_time);

#ifndef QMTRC_CHROME_TRACE_H
#define QMTRC_CHROME_TRACE_H

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <qmtrc/qmtrc.h>

namespace qmtrc::dump {

class ChromeTrace {
 public:
  // Writes the opening of the JSON document.
  explicit ChromeTrace(std::ostream& out);

  // Writes the events of one record of run `run`; origin_ns is the time of the file's first
  // record.
  void add(const qmtrc_record& record, std::uint64_t origin_ns, std::uint32_t run);

  // Closes the JSON document; origin_ns is empty when the file held no record.
  void finish(std::optional<std::uint64_t> origin_ns);

 private:
  // The tracepoints of the durations open on one track, innermost last.
  using Track = std::pair<std::uint32_t, std::uint32_t>;  // run, thread
  void write_event(const char* phase, const std::string& name, const char* category,
                   const qmtrc_record& record, std::uint64_t origin_ns, std::uint32_t run,
                   const std::string& args);
  void end_duration(const qmtrc_record& record, std::uint64_t origin_ns, std::uint32_t run,
                    std::uint32_t tracepoint, const std::string& args);

  std::ostream& out_;
  bool first_event_ = true;
  std::map<Track, std::vector<std::uint32_t>> open_;
};

}  // namespace qmtrc::dump

#endif  // QMTRC_CHROME_TRACE_H
