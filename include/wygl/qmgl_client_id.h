// qmgl_client_id.h - client identities.
//
// A qmgl_client_id names a client of a service: a UUID, made once per process, and a
// connection number that tells apart the connections of one client. A process takes its own
// identity from getClientID (connection number 0) and numbers its connections with
// getConnectionID. An identity travels as text in the value syntax (qmgl_value.h), so it can
// be written to any output stream, an RPC request included, and read back from any input:
//
//   qmgl_client_id me = qmgl_client_id::getClientID();
//   me.set_connection_id(qmgl_client_id::getConnectionID());   // 1, 2, 3, ...
//   qmgl_ntarray_of<char, 0> text;
//   qmgl_output_str out(text);
//   me.stream_out(out);         // "\"0f6c1e0a-....-....-....-............\"  1  "
//   qmgl_input_str in(text);
//   qmgl_client_id back(in);    // back == me
//
// The UUID text has 36 characters: 32 lower-case hexadecimal digits in groups of 8, 4, 4, 4
// and 12 joined by hyphens. Every identity a process hands out through getClientID shares
// one UUID; copies differ by their connection numbers.
//
// Tracing (trace class 0x21): the first getClientID writes inner-operation entry and exit
// records (kinds 0x062A0000 and 0x062B0000, level 0x10000) at tracepoint 0x14210300 around
// making the UUID. Failures write error texts (kind 0x06040000, level 0x8) "In catch ERROR\n"
// at 0x14210100 (reading an identity), 0x14210200 (writing one) and 0x14210300 (making the
// UUID, after "Got illegal rc=<status>\n<the status's system text>"). Every record names no
// object (object word 0).
//
// Thread safety: an identity object is used by one thread at a time. getConnectionID may be
// called from any thread. The first calls of getClientID and getConnectionID make process-wide
// objects; make them before starting threads.

#ifndef WYGL_QMGL_CLIENT_ID_H
#define WYGL_QMGL_CLIENT_ID_H

#include <string>

#include <wygl/wygl_export.h>

struct qmgl_input;
struct qmgl_output;

struct WYGL_API qmgl_client_id {
  // An identity of the given UUID text and connection number; the defaults give an empty
  // UUID and connection number 0. Raises nothing but std::bad_alloc from the copy of uuid.
  qmgl_client_id(std::basic_string<unsigned short> const& uuid =  // NOLINT: implicit, as the
                 std::basic_string<unsigned short>(),             // interface has it
                 int connection_id = 0);

  // Reads an identity as stream_out writes it: one value (operator>> of the value syntax)
  // whose wide text becomes the UUID, then one whose integer becomes the connection number.
  // A value of another type raises exc_invalid_cast_t ("exc_invalid_cast", file
  // src/qmgl/qmgl_value); the reader's errors (exc_invalid_token_t, ...) and the input's pass
  // out. Whatever it raises is first reported with the error text "In catch ERROR\n" at
  // tracepoint 0x14210100, then raised again unchanged. The reader leaves in delivering its
  // end as a character (throw_on_eoi(false)).
  explicit qmgl_client_id(qmgl_input& in);

  qmgl_client_id(qmgl_client_id const&) = default;
  qmgl_client_id& operator=(qmgl_client_id const&) = default;
  ~qmgl_client_id() = default;

  // Writes the UUID as a UNI value (a double quote, the UTF-8 text with double quotes doubled,
  // a double quote, two spaces), then the connection number as out << int writes it (the
  // decimal digits, two spaces). Returns 0. When writing raises, the exception is caught,
  // reported with the error text "In catch ERROR\n" at tracepoint 0x14210200, and 0x206E0001
  // is returned; the stream may then hold part of the text.
  int stream_out(qmgl_output& out) const;

  // A copy of the UUID text.
  std::basic_string<unsigned short> get_UUID() const { return _uuid; }
  int get_connection_id() const { return _connection_id; }
  void set_connection_id(int connection_id) { _connection_id = connection_id; }

  // Both UUID texts equal, unit for unit, and both connection numbers equal.
  bool operator==(qmgl_client_id const& other) const;

  // A strict total order, consistent with ==, so that identities can be keys of sorted
  // containers: by UUID text first (unit values compared in turn; a text that is the start of
  // another comes first), then by connection number.
  bool operator<(qmgl_client_id const& other) const;

  // The process's identity: on the first call a new UUID is made and the identity built from
  // it with connection number 0; every call returns that same object, which lives until the
  // process ends. When no UUID can be made, the system's status is reported with the error
  // texts "Got illegal rc=<status> creating UUID for client ID\n<system text>" and
  // "In catch ERROR\n" at tracepoint 0x14210300 and raised as exc_t::throw_w32_error raises
  // it (exc_unmapped_t with the status and its system text); a later call tries again.
  static qmgl_client_id const& getClientID();

  // The next connection number of this process: 1 on the first call, then 2, 3, ...; after
  // 2147483647 comes 1 again, so a number is never 0 or negative. Concurrent callers get
  // distinct numbers (a process-wide qmgl_guard orders them). Raises nothing.
  static int getConnectionID();

 private:
  std::basic_string<unsigned short> _uuid;
  int _connection_id;
};

#endif  // WYGL_QMGL_CLIENT_ID_H
