// The log's record framing: one change a line, guarded by its length and checksum.
//
// A record is the text
//
//   <length>  <crc>  <body>\n
//
// where body is the change in the value text syntax (its sequence number as an INT, its kind
// as an STR word, the key as an STR, then the value of a put, or the deadline of an expire as
// an INT holding its low 32 bits followed, for deadlines past 2106, by an INT holding the high
// ones), length the number of bytes of body and crc their CRC-32 (kv_checksum.h), both written
// as decimal numbers. For example, a put of the STR hello under the key greeting:
//
//   28  343023920  7  'put' 'greeting' 'hello' \n
//
// A record that a crash cut short (a torn tail) or that was damaged otherwise cannot pass as a
// record: its length, its checksum or its closing line feed fails, and the reader reports it
// as damaged instead of misreading it. Any record that the writer wrote reads back, whatever
// its length. A file of records ends cleanly right after the line feed of its last record.

#ifndef WYGL_KV_RECORD_H
#define WYGL_KV_RECORD_H

#include <cstddef>
#include <string>
#include <string_view>

#include <wygl/qmgl_output.h>

#include "kv_change.h"

// Writes change as one record. Failures of out pass out.
void kv_write_record(qmgl_output& out, kv_change const& change);

struct kv_read_result {
  enum status_t {
    record,   // change holds the next record
    end,      // the text ended cleanly, between records
    damaged,  // the text holds, from offset on, something that is no whole record; see problem
  };
  status_t status = end;
  kv_change change;
  std::string problem;
  std::size_t offset = 0;  // where the record (or the damage) begins
};

// Reads the record that begins at text[at], after any white space, and moves at past it.
// Everything about the text is reported in the result; at stays put on damage. With
// body_too false the body is checked by its length and checksum only, and change stays empty.
kv_read_result kv_read_record(std::string_view text, std::size_t& at, bool body_too = true);

// Whether a whole record begins at some line start after offset from: damage that records
// follow is more than a torn tail.
bool kv_record_follows(std::string_view text, std::size_t from);

#endif  // WYGL_KV_RECORD_H
