#include "kv_record.h"

#include <cstring>

#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_ntarray.h>
#include <wygl/qmgl_value_reader.h>

#include "kv_checksum.h"

namespace {

// A body longer than this is taken for damage rather than allocated.
constexpr int longest_body = 256 * 1024 * 1024;

constexpr char file_end = static_cast<char>(0xFF);

kv_read_result damaged(std::string problem) {
  kv_read_result result;
  result.status = kv_read_result::damaged;
  result.problem = std::move(problem);
  return result;
}

// The body's text: the sequence number, the kind's word, the key, then what the kind carries.
qmgl_ntarray_of<char, 0> body_of(kv_change const& change) {
  qmgl_ntarray_of<char, 0> body;
  qmgl_output_str out(body);
  out << static_cast<int>(change.seq);
  qmgl_value(kv_change_word(change.kind)).stream_out(out);
  if (change.kind == kv_change::base) return body;
  qmgl_value(change.key.c_str()).stream_out(out);
  if (change.kind == kv_change::put) change.value.stream_out(out);
  if (change.kind == kv_change::expire) out << static_cast<int>(change.deadline);
  return body;
}

bool kind_of(char const* word, kv_change::kind_t& kind) {
  for (kv_change::kind_t candidate :
       {kv_change::put, kv_change::del, kv_change::expire, kv_change::base}) {
    if (std::strcmp(word, kv_change_word(candidate)) == 0) {
      kind = candidate;
      return true;
    }
  }
  return false;
}

// Parses a body whose checksum has matched.
kv_read_result parse_body(std::string const& body) {
  qmgl_input_str in(body.c_str());
  kv_read_result result;
  result.status = kv_read_result::record;
  kv_change& change = result.change;
  qmgl_value seq, word, key, extra, rest;
  in >> seq >> word;
  if (!seq.is_int() || !word.is_str() || !kind_of(word.as_charp(), change.kind))
    return damaged("record without a sequence number and kind");
  change.seq = static_cast<std::uint32_t>(seq.as_int());
  if (change.kind != kv_change::base) {
    in >> key;
    if (!key.is_str()) return damaged("record without a key");
    change.key.assign(key.as_charp(), key.as_str().length());
  }
  if (change.kind == kv_change::put) {
    in >> extra;
    if (kv_is_end(extra)) return damaged("put without a value");
    change.value = std::move(extra);
  } else if (change.kind == kv_change::expire) {
    in >> extra;
    if (!extra.is_int()) return damaged("expire without a deadline");
    change.deadline = static_cast<std::uint32_t>(extra.as_int());
  }
  in >> rest;
  if (!kv_is_end(rest)) return damaged("record with extra text");
  return result;
}

// Reads one header number; false when there is none.
bool read_number(qmgl_input& in, int& number) {
  qmgl_value v;
  in >> v;
  if (!v.is_int()) return false;
  number = v.as_int();
  return true;
}

}  // namespace

char const* kv_change_word(kv_change::kind_t kind) noexcept {
  switch (kind) {
    case kv_change::put:
      return "put";
    case kv_change::del:
      return "del";
    case kv_change::expire:
      return "expire";
    case kv_change::base:
      return "base";
  }
  return "?";
}

void kv_write_record(qmgl_output& out, kv_change const& change) {
  qmgl_ntarray_of<char, 0> const body = body_of(change);
  out << static_cast<int>(body.length()) << static_cast<unsigned int>(kv_crc32(body, body.length()))
      << body << '\n';
}

kv_read_result kv_read_record(qmgl_input& in) {
  int length = 0;
  int crc = 0;
  char c = '\0';
  in.throw_on_eoi(false);
  try {
    // White space, then the end of the file: no record begins here.
    do {
      c = in.get_char();
    } while (c == ' ' || c == '\n' || c == '\r' || c == '\t');
    if (c == file_end && in.empty()) return kv_read_result{};
    in.return_char();
    if (!read_number(in, length) || length <= 0 || length > longest_body)
      return damaged("record without a valid length");
    if (!read_number(in, crc)) return damaged("record without a checksum");
  } catch (exc_t const& e) {
    return damaged(std::string("record header unreadable: ") + e.message);
  }
  // The body starts at the first character after the spaces that end the checksum.
  do {
    c = in.get_char();
  } while (c == ' ' && !in.empty());
  std::string body;
  body.reserve(static_cast<std::size_t>(length));
  for (;;) {
    if (c == file_end && in.empty()) return damaged("record cut short");
    body += c;
    if (body.size() == static_cast<std::size_t>(length)) break;
    c = in.get_char();
  }
  c = in.get_char();
  if (c != '\n') return damaged("record without its line feed");
  if (kv_crc32(body.data(), body.size()) != static_cast<std::uint32_t>(crc))
    return damaged("record whose checksum does not match");
  try {
    return parse_body(body);
  } catch (exc_t const& e) {
    return damaged(std::string("record body unreadable: ") + e.message);
  }
}
