#include "kv_record.h"

#include <cstdint>
#include <cstring>

#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_ntarray.h>
#include <wygl/qmgl_value_reader.h>

#include "kv_checksum.h"

namespace {

kv_read_result damaged(std::size_t offset, std::string problem) {
  kv_read_result result;
  result.status = kv_read_result::damaged;
  result.offset = offset;
  result.problem = std::move(problem);
  return result;
}

bool is_space(char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t';
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
  if (change.kind == kv_change::expire) {
    out << static_cast<int>(static_cast<std::uint32_t>(change.deadline));
    if (std::uint32_t const high = static_cast<std::uint32_t>(change.deadline >> 32); high != 0)
      out << static_cast<int>(high);
  }
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

std::uint64_t word_of(qmgl_value const& v) {
  return static_cast<std::uint32_t>(v.as_int());
}

// Parses a body whose checksum has matched; problems are reported by their text.
std::string parse_body(std::string_view body, kv_change& change) {
  std::string const text(body);
  qmgl_input_str in(text.c_str());
  qmgl_value seq, word, key, extra, rest;
  in >> seq >> word;
  if (!seq.is_int() || !word.is_str() || !kind_of(word.as_charp(), change.kind))
    return "record without a sequence number and kind";
  change.seq = static_cast<std::uint32_t>(seq.as_int());
  if (change.kind != kv_change::base) {
    in >> key;
    if (!key.is_str()) return "record without a key";
    change.key.assign(key.as_charp(), key.as_str().length());
  }
  if (change.kind == kv_change::put) {
    in >> extra;
    if (kv_is_end(extra)) return "put without a value";
    change.value = std::move(extra);
  } else if (change.kind == kv_change::expire) {
    in >> extra;
    if (!extra.is_int()) return "expire without a deadline";
    change.deadline = word_of(extra);
    in >> extra;
    if (extra.is_int()) {
      change.deadline |= word_of(extra) << 32;
      in >> extra;
    }
    rest = extra;
  }
  if (change.kind != kv_change::expire) in >> rest;
  if (!kv_is_end(rest)) return "record with extra text";
  return {};
}

// A decimal header number and the spaces after it; false when there is none.
bool read_number(std::string_view text, std::size_t& at, std::uint64_t& number) {
  std::size_t const first = at;
  number = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && at - first < 19; ++at)
    number = number * 10 + static_cast<std::uint64_t>(text[at] - '0');
  if (at == first || at == text.size() || text[at] != ' ') return false;
  while (at < text.size() && text[at] == ' ')
    ++at;
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
  // The length as the size it is: no record is too long to be read back.
  std::string const length = std::to_string(static_cast<std::size_t>(body.length())) + "  ";
  out << length.c_str() << static_cast<unsigned int>(kv_crc32(body, body.length())) << body << '\n';
}

kv_read_result kv_read_record(std::string_view text, std::size_t& at, bool body_too) {
  std::size_t next = at;
  while (next < text.size() && is_space(text[next]))
    ++next;
  if (next == text.size()) {
    at = next;
    return kv_read_result{};
  }
  std::size_t const start = next;
  std::uint64_t length = 0;
  std::uint64_t crc = 0;
  if (!read_number(text, next, length) || length == 0) {
    bool const cut = next == text.size();
    return damaged(start, cut ? "record cut short" : "record without a valid length");
  }
  if (!read_number(text, next, crc) || crc > 0xFFFFFFFFu) {
    bool const cut = next == text.size();
    return damaged(start, cut ? "record cut short" : "record without a checksum");
  }
  if (text.size() - next <= length) return damaged(start, "record cut short");
  std::string_view const body = text.substr(next, static_cast<std::size_t>(length));
  if (text[next + body.size()] != '\n') return damaged(start, "record without its line feed");
  if (kv_crc32(body.data(), body.size()) != crc)
    return damaged(start, "record whose checksum does not match");
  kv_read_result result;
  result.status = kv_read_result::record;
  result.offset = start;
  if (body_too) {
    std::string problem;
    try {
      problem = parse_body(body, result.change);
    } catch (exc_t const& e) {
      problem = std::string("record body unreadable: ") + e.message;
    }
    if (!problem.empty()) return damaged(start, problem);
  }
  at = next + body.size() + 1;
  return result;
}

bool kv_record_follows(std::string_view text, std::size_t from) {
  for (std::size_t at = text.find('\n', from); at != std::string_view::npos;
       at = text.find('\n', at + 1)) {
    std::size_t candidate = at + 1;
    if (kv_read_record(text, candidate, false).status == kv_read_result::record) return true;
  }
  return false;
}
