#include "dump_format.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <ostream>

#include "chrome_trace.h"
#include "record_format.h"
#include "trace_reader.h"
#include "wygl/wytr_ids.h"

namespace qmtrc::dump {
namespace {

void append_hex(std::string& out, std::uint64_t value, int min_digits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  char digits[16];
  int count = 0;
  do {
    digits[count++] = kDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  for (; count < min_digits; ++count)
    digits[count] = '0';
  while (count > 0)
    out += digits[--count];
}

void append_name(std::string& out, const char* name, const char* unknown_prefix,
                 std::uint32_t number, int digits) {
  if (name) {
    out += name;
  } else {
    out += unknown_prefix;
    append_hex(out, number, digits);
  }
}

bool is_exit_kind(std::uint32_t kind) {
  namespace kind_number = wytr::kind;
  for (std::uint8_t exit_kind :
       {kind_number::public_left, kind_number::inner_left, kind_number::public_left_in_exception,
        kind_number::inner_left_in_exception}) {
    if (kind == wytr::kind_word(exit_kind)) return true;
  }
  return false;
}

void append_quoted(std::string& out, const unsigned char* data, std::uint32_t length) {
  out += '"';
  for (std::uint32_t i = 0; i < length; ++i) {
    unsigned char c = data[i];
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\x";
          append_hex(out, c, 2);
        } else {
          // Bytes from 0x80 on pass through, so that UTF-8 text stays readable.
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

// The columns in front of the body: sequence, time, thread.
std::string text_line(const qmtrc_record& record, bool relative, std::uint64_t origin_ns) {
  std::string time = relative ? seconds_since(record.time_ns, origin_ns) : utc_time(record.time_ns);
  char columns[80];
  std::snprintf(columns, sizeof columns, "%6" PRIu64 " %*s t%-3" PRIu32 " ", record.sequence,
                relative ? 12 : 0, time.c_str(), record.thread);
  return columns + format_record(record);
}

}  // namespace

std::string kind_name(std::uint32_t kind) {
  std::string name;
  append_name(name, wytr::name_of_kind(kind), "kind_0x", kind, 8);
  return name;
}

std::string tracepoint_name(std::uint32_t tracepoint) {
  std::string name;
  append_name(name, wytr::name_of_class(tracepoint), "class_0x", wytr::tracepoint_class(tracepoint),
              2);
  name += "::";
  append_name(name, wytr::name_of_operation(tracepoint), "op_0x",
              wytr::tracepoint_operation(tracepoint), 2);
  return name;
}

std::string hex(std::uint64_t number) {
  std::string text = "0x";
  append_hex(text, number, 1);
  return text;
}

std::optional<std::uint32_t> exit_code(const qmtrc_record& record) {
  if (!is_exit_kind(record.kind)) return std::nullopt;
  int items = 0, four_byte_item = -1;
  for (int i = 0; i < 3; ++i) {
    if (record.length[i] == 0) continue;
    ++items;
    if (record.length[i] == 4) four_byte_item = i;
  }
  if (items != 1 || four_byte_item < 0) return std::nullopt;
  return format::get_u32(record.data[four_byte_item]);
}

std::string utc_time(std::uint64_t time_ns) {
  using namespace std::chrono;
  sys_time<nanoseconds> time{nanoseconds(static_cast<std::int64_t>(time_ns))};
  sys_days day = floor<days>(time);
  year_month_day date(day);
  hh_mm_ss<microseconds> clock(floor<microseconds>(time - day));
  char text[40];
  std::snprintf(
      text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%06dZ", static_cast<int>(date.year()),
      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
      static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
      static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
  return text;
}

std::string seconds_since(std::uint64_t time_ns, std::uint64_t origin_ns) {
  // The wall clock may step back between two records.
  bool before = time_ns < origin_ns;
  std::uint64_t microseconds = (before ? origin_ns - time_ns : time_ns - origin_ns) / 1000;
  char text[40];
  std::snprintf(text, sizeof text, "%c%" PRIu64 ".%06" PRIu64, before ? '-' : '+',
                microseconds / 1000000, microseconds % 1000000);
  return text;
}

std::string format_record(const qmtrc_record& record) {
  std::string line =
      kind_name(record.kind) + ' ' + tracepoint_name(record.tracepoint) + ' ' + hex(record.object);
  if (std::optional<std::uint32_t> code = exit_code(record)) {
    line += " code=0x";
    append_hex(line, *code, 8);
    return line;
  }
  for (int i = 0; i < 3; ++i) {
    if (record.length[i] == 0) continue;
    line += ' ';
    append_quoted(line, record.data[i], record.length[i]);
  }
  return line;
}

bool dump_file(const char* path, const DumpOptions& options, std::ostream& out,
               std::string& error) {
  std::optional<ChromeTrace> chrome;
  if (options.output == DumpOptions::Output::chrome) chrome.emplace(out);
  std::optional<std::uint64_t> origin_ns;
  // A file may hold several runs of a program, one after the other; each starts its
  // sequence numbers again from 1.
  std::uint32_t run = 1;
  std::uint64_t last_sequence = 0;
  bool ok = read_trace_file(
      path,
      [&](const qmtrc_record& record) {
        if (!origin_ns) origin_ns = record.time_ns;
        if (record.sequence <= last_sequence) ++run;
        last_sequence = record.sequence;
        if (!options.filter.passes(record)) return;
        if (chrome)
          chrome->add(record, *origin_ns, run);
        else
          out << text_line(record, options.relative, *origin_ns) << '\n';
      },
      error);
  if (chrome) chrome->finish(origin_ns);
  return ok;
}

}  // namespace qmtrc::dump
