// One change of the store, as the log keeps it.
//
// Every change gets the next sequence number of its store. Sequence numbers are 32-bit and
// wrap around; two numbers are ordered by their difference (kv_seq_after), which is right as
// long as they are less than 2^31 apart. Deadlines are whole seconds since 1970 (UTC), 64-bit,
// so that a deadline far ahead never wraps around to one in the past.

#ifndef WYGL_KV_CHANGE_H
#define WYGL_KV_CHANGE_H

#include <cstdint>
#include <string>

#include <wygl/qmgl_value.h>

struct kv_change {
  enum kind_t {
    put,     // key holds value, without a deadline
    del,     // key is gone
    expire,  // key, if present, goes at deadline
    base,    // the state up to seq is the snapshot that follows (first record of a snapshot)
  };

  kind_t kind = put;
  std::uint32_t seq = 0;
  std::string key;
  qmgl_value value;
  std::uint64_t deadline = 0;
};

// Whether sequence number a comes after b.
inline bool kv_seq_after(std::uint32_t a, std::uint32_t b) noexcept {
  return static_cast<std::int32_t>(a - b) > 0;
}

// Whether v is the end of a message or file (EOL or EOI), as the value reader gives it after
// the last value.
inline bool kv_is_end(qmgl_value const& v) {
  return v.is_null() && !v.is_same_type(qmgl_value());
}

// The record word of each kind: "put", "del", "expire", "base".
char const* kv_change_word(kv_change::kind_t kind) noexcept;

#endif  // WYGL_KV_CHANGE_H
