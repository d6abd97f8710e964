// The log's record framing: one change a line, guarded by its length and checksum.
//
// A record is the text
//
//   <length>  <crc>  <body>\n
//
// where body is the change in the value text syntax (its sequence number as an INT, its kind
// as an STR word, the key as an STR, then the value of a put or the deadline of an expire as an
// INT), length the number of bytes of body and crc their CRC-32 (kv_checksum.h), both written
// as decimal numbers. For example, a put of the STR hello under the key greeting:
//
//   28  343023920  7  'put' 'greeting' 'hello' \n
//
// A record that a crash cut short (a torn tail) or that was damaged otherwise cannot pass as a
// record: its length, its checksum or its closing line feed fails, and the reader reports it
// as damaged instead of misreading it. A file of records ends cleanly right after the line
// feed of its last record.

#ifndef WYGL_KV_RECORD_H
#define WYGL_KV_RECORD_H

#include <string>

#include <wygl/qmgl_input.h>
#include <wygl/qmgl_output.h>

#include "kv_change.h"

// Writes change as one record. Failures of out pass out.
void kv_write_record(qmgl_output& out, kv_change const& change);

struct kv_read_result {
  enum status_t {
    record,   // change holds the next record
    end,      // the input ended cleanly, between records
    damaged,  // the input ends in, or holds, something that is no whole record; see problem
  };
  status_t status = end;
  kv_change change;
  std::string problem;
};

// Reads the next record from in, a file input (which ends in the character 0xFF). Failures of
// the input itself pass out; everything about the text is reported in the result.
kv_read_result kv_read_record(qmgl_input& in);

#endif  // WYGL_KV_RECORD_H
