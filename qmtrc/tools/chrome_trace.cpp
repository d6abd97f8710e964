#include "chrome_trace.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string_view>

#include "dump_format.h"
#include "wygl/wytr_ids.h"

namespace qmtrc::dump {
namespace {

bool is_kind(std::uint32_t kind, std::initializer_list<std::uint8_t> numbers) {
  return std::any_of(numbers.begin(), numbers.end(),
                     [&](std::uint8_t number) { return kind == wytr::kind_word(number); });
}

bool is_entry(std::uint32_t kind) {
  return is_kind(kind, {wytr::kind::public_entered, wytr::kind::inner_entered});
}

bool is_exit(std::uint32_t kind) {
  return is_kind(kind, {wytr::kind::public_left, wytr::kind::inner_left,
                        wytr::kind::public_left_in_exception, wytr::kind::inner_left_in_exception});
}

// The length of the well-formed UTF-8 sequence at text[at], or 0.
std::size_t utf8_sequence(std::string_view text, std::size_t at) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(at), low = 0x80, high = 0xBF;
  std::size_t length;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if (byte(at + i) < (i == 1 ? low : 0x80) || byte(at + i) > (i == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

// A JSON string of the bytes. Bytes that are not UTF-8 appear as the text \xNN, as qmtrc_dump
// writes them, so that the document stays valid.
std::string json_string(std::string_view text) {
  std::string out = "\"";
  char escape[8];
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      std::size_t length = utf8_sequence(text, i);
      if (length == 0) {
        std::snprintf(escape, sizeof escape, "\\\\x%02x", c);
        out += escape;
        ++i;
      } else {
        out.append(text.substr(i, length));
        i += length;
      }
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20) {
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
    ++i;
  }
  return out + '"';
}

std::string microseconds_since(std::uint64_t time_ns, std::uint64_t origin_ns) {
  bool before = time_ns < origin_ns;
  std::uint64_t ns = before ? origin_ns - time_ns : time_ns - origin_ns;
  char text[32];
  std::snprintf(text, sizeof text, "%s%" PRIu64 ".%03" PRIu64, before ? "-" : "", ns / 1000,
                ns % 1000);
  return text;
}

// The level name of the kind, as the mask takes it: the events' category.
const char* category(std::uint32_t kind) {
  std::uint32_t levels = wytr::levels_of_kind(kind);
  for (const wytr::level_name& level : wytr::level_names)
    if (levels & level.bit) return level.name;
  return "other";
}

// The record's data: an exit's code, or the non-empty items as texts.
std::string data_args(const qmtrc_record& record) {
  if (std::optional<std::uint32_t> code = exit_code(record)) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08" PRIx32, *code);
    return ",\"code\":\"" + std::string(text) + "\"";
  }
  static constexpr const char* kItemNames[3] = {"text", "text2", "text3"};
  std::string args;
  for (int i = 0; i < 3; ++i) {
    if (record.length[i] == 0) continue;
    std::string_view item(reinterpret_cast<const char*>(record.data[i]), record.length[i]);
    args += ",\"" + std::string(kItemNames[i]) + "\":" + json_string(item);
  }
  return args;
}

std::string record_args(const qmtrc_record& record) {
  return "\"seq\":" + std::to_string(record.sequence) +
         ",\"object\":" + json_string(hex(record.object)) + data_args(record);
}

}  // namespace

ChromeTrace::ChromeTrace(std::ostream& out) : out_(out) {
  out_ << "{\"traceEvents\":[\n";
}

void ChromeTrace::add(const qmtrc_record& record, std::uint64_t origin_ns, std::uint32_t run) {
  std::vector<std::uint32_t>& open = open_[{run, record.thread}];
  if (is_entry(record.kind)) {
    open.push_back(record.tracepoint);
    write_event("B", tracepoint_name(record.tracepoint), category(record.kind), record, origin_ns,
                run, record_args(record));
    return;
  }
  if (is_exit(record.kind) &&
      std::find(open.begin(), open.end(), record.tracepoint) != open.end()) {
    // Operations entered inside this one whose exits were not recorded end with it.
    while (open.back() != record.tracepoint)
      end_duration(record, origin_ns, run, open.back(), "\"exit\":\"none\"");
    end_duration(record, origin_ns, run, record.tracepoint,
                 "\"exit\":" + json_string(kind_name(record.kind)) + data_args(record));
    return;
  }
  write_event("i", kind_name(record.kind) + " " + tracepoint_name(record.tracepoint),
              category(record.kind), record, origin_ns, run, record_args(record));
}

void ChromeTrace::finish(std::optional<std::uint64_t> origin_ns) {
  out_ << "\n],\"displayTimeUnit\":\"ns\"";
  if (origin_ns) out_ << ",\"otherData\":{\"start\":" << json_string(utc_time(*origin_ns)) << "}";
  out_ << "}\n";
}

void ChromeTrace::end_duration(const qmtrc_record& record, std::uint64_t origin_ns,
                               std::uint32_t run, std::uint32_t tracepoint,
                               const std::string& args) {
  open_[{run, record.thread}].pop_back();
  write_event("E", tracepoint_name(tracepoint), category(record.kind), record, origin_ns, run,
              args);
}

void ChromeTrace::write_event(const char* phase, const std::string& name, const char* category,
                              const qmtrc_record& record, std::uint64_t origin_ns,
                              std::uint32_t run, const std::string& args) {
  if (!first_event_) out_ << ",\n";
  first_event_ = false;
  out_ << "{\"ph\":\"" << phase << "\",";
  if (phase[0] == 'i') out_ << "\"s\":\"t\",";
  out_ << "\"name\":" << json_string(name) << ",\"cat\":\"" << category
       << "\",\"ts\":" << microseconds_since(record.time_ns, origin_ns) << ",\"pid\":" << run
       << ",\"tid\":" << record.thread << ",\"args\":{" << args << "}}";
}

}  // namespace qmtrc::dump
