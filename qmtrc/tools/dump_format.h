// dump_format.h - what qmtrc_dump makes of a trace file: lines of text, or a Chrome
// trace-event timeline (chrome_trace.h), of the records its filter lets through.
//
// A line holds the record's sequence number, its time, its thread and then its body:
//
//      12 2025-01-31T08:15:02.123456Z t3   entered qmgl_socket::read 0x55d0c3a4e2b0
//
// The body is <kind> <class>::<operation> 0x<object> [code=0x<8 hex digits> | "<text>" ...];
// qmtrc/README.md gives the rules.
//
//   qmtrc::dump::DumpOptions options;
//   options.relative = true;
//   options.filter.set_levels("error");
//   std::string error;
//   bool ok = qmtrc::dump::dump_file("run.qmtrc", options, std::cout, error);

#ifndef QMTRC_DUMP_FORMAT_H
#define QMTRC_DUMP_FORMAT_H

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include <qmtrc/qmtrc.h>

#include "record_filter.h"

namespace qmtrc::dump {

// The kind's name from wytr_ids.h, or kind_0x%08x of the kind word.
std::string kind_name(std::uint32_t kind);

// "<class>::<operation>" from wytr_ids.h, each part replaced by class_0x%02x or op_0x%02x of
// its byte when unknown.
std::string tracepoint_name(std::uint32_t tracepoint);

// "0x" and the number in lower-case hexadecimal without leading zeros.
std::string hex(std::uint64_t number);

// The code an exit record carries: for the exit kinds, the value of a record whose data is a
// single 4-byte item, read as a little-endian number.
std::optional<std::uint32_t> exit_code(const qmtrc_record& record);

// The time in UTC, ISO 8601 with microseconds: 2025-01-31T08:15:02.123456Z.
std::string utc_time(std::uint64_t time_ns);

// The signed time from origin_ns to time_ns in seconds with microseconds: +0.000125.
std::string seconds_since(std::uint64_t time_ns, std::uint64_t origin_ns);

// The record's body, without the columns in front and without the line end.
std::string format_record(const qmtrc_record& record);

struct DumpOptions {
  enum class Output { text, chrome };
  Output output = Output::text;
  // Text: times in seconds since the file's first record (shown or not) instead of the date.
  bool relative = false;
  RecordFilter filter;
};

// Writes the records of the trace file at path that pass the filter to out, as lines of text
// or as a Chrome trace. Returns false, with error set, when the file cannot be read or is not
// a well-formed trace; what was read before the fault is written (a Chrome trace is closed,
// so that it stays valid JSON). A last record cut short is left out: the call still returns
// true, and error says so.
bool dump_file(const char* path, const DumpOptions& options, std::ostream& out, std::string& error);

}  // namespace qmtrc::dump

#endif  // QMTRC_DUMP_FORMAT_H
