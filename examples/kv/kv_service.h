// The key-value service without its transport: the store, its log, the periodic passes and
// the answers to requests.
//
// A request is the list of values of one message, as the value reader reads them up to the
// end of the message; the first is the request's name, an STR. A reply is a list of values
// too, whose first is an STR: 'ok' followed by the result, 'not_found' followed by the key,
// or 'error' followed by an STR that says what was wrong.
//
//   'put' key value       'ok' seq          (seq: the change's sequence number, an INT)
//   'get' key             'ok' value  |  'not_found' key
//   'del' key             'ok' seq    |  'not_found' key
//   'expire' key seconds  'ok' seq    |  'not_found' key   (seconds <= 0 deletes at once)
//   'keys'                'ok' (key, ...)                  (sorted; () when there is none)
//   'stats'               'ok' (name, number, ...) ("uuid", connection, requests) ...
//   'hello' "uuid" n      'ok' "uuid" n                    (a client identity)
//   'sync'                'ok' seq                         (everything up to seq is on disk)
//   'compact'             'ok' keys                        (the log is now a snapshot)
//
// Keys are STR values. The names of 'stats' are connections, open, requests, errors, keys,
// sequence, written, flushed, compactions and anonymous (requests of connections that said no
// hello); one array follows for each client identity that said hello on a connection that is
// still open, with its requests. An identity is forgotten when its last connection closes.
//
// Thread safety: answer and serve may run on any number of threads at once, each with its own
// session. open and close are for one controlling thread.

#ifndef WYGL_KV_SERVICE_H
#define WYGL_KV_SERVICE_H

#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <wygl/qmgl_client_id.h>
#include <wygl/qmgl_input.h>
#include <wygl/qmgl_output.h>
#include <wygl/qmgl_value.h>

#include "kv_log.h"
#include "kv_store.h"

// What one connection has said about itself.
struct kv_session {
  std::optional<qmgl_client_id> client;
};

// One request as it came: its values, or why they could not be read.
struct kv_incoming {
  std::vector<qmgl_value> values;
  std::optional<std::string> unreadable;  // the reader's message, on one line
};

// Reads one request up to the end of its message. A text the value reader refuses is
// reported in the result; in is then left after the point of the error (the caller drops the
// rest of the message). Failures of in itself (a closed connection) pass out unchanged.
kv_incoming kv_read_request(qmgl_input& in);
// The reply to every request that comes after the service has begun to stop.
std::vector<qmgl_value> kv_stopping_reply();

// What replaying the log at open found.
struct kv_open_report {
  std::size_t records = 0;   // records applied
  std::size_t keys = 0;      // keys present afterwards
  std::string dropped_tail;  // why and where the end of the log was dropped, or empty
};

// A log that is damaged before its end: whole records follow the damage, so it is no torn
// tail, and dropping the rest would lose them. The message names the file and the offset.
struct kv_damaged_log : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// How often the periodic passes run, in seconds.
struct kv_periods {
  int expiry = 1;
  int flush = 1;
  int compaction = 300;
};

class kv_service {
 public:
  // A service on the folder, not yet open.
  explicit kv_service(std::string folder);
  // Closes the service if close has not.
  ~kv_service();
  kv_service(kv_service const&) = delete;
  kv_service& operator=(kv_service const&) = delete;

  // Makes the folder if needed, settles the files of an interrupted compaction, replays the
  // log (dropping a damaged end), drops expired keys and rewrites the log as a snapshot, so
  // that new records never follow a damaged end. Raises kv_damaged_log, leaving the log as it
  // is, when whole records follow damage; exc_t for failures of the files; and
  // std::runtime_error when the log cannot be read or the snapshot cannot be written.
  kv_open_report open();
  // Registers the periodic passes with the process's timer (qmgl_timer::create first).
  void start_timers(kv_periods const& periods);
  // Removes them; no pass runs once this returns.
  void stop_timers();
  // Stops the timers, writes what is queued and closes the log. No request may come after.
  void close();

  // The reply to request.
  std::vector<qmgl_value> answer(kv_session& session, std::vector<qmgl_value> const& request);
  // Writes the reply to a request read by kv_read_request to out: the answer, or for a
  // request that could not be read an 'error' reply with the reader's message. Failures of
  // out pass out unchanged.
  void reply(kv_session& session, kv_incoming const& request, qmgl_output& out);
  // Reads one request from in (kv_read_request), and replies to it.
  void serve(kv_session& session, qmgl_input& in, qmgl_output& out);

  // Connection counts, for 'stats'. A closed connection's identity is forgotten unless
  // another open connection said the same hello.
  void connection_opened();
  void connection_closed(kv_session& session);

  kv_store& store() { return _store; }
  kv_log& log() { return _log; }

 private:
  struct timer_pass;

  std::vector<qmgl_value> stats();
  std::vector<qmgl_value> hello(kv_session& session, std::vector<qmgl_value> const& request);
  void count_request(kv_session const& session);
  void forget(kv_session& session);

  std::string const _folder;
  kv_log _log;
  kv_store _store;
  bool _open = false;
  std::vector<long> _timer_entries;

  std::atomic<std::uint64_t> _connections{0};
  std::atomic<std::uint64_t> _open_connections{0};
  std::atomic<std::uint64_t> _requests{0};
  std::atomic<std::uint64_t> _errors{0};
  std::atomic<std::uint64_t> _anonymous{0};
  struct client_counts {
    std::uint64_t requests = 0;
    std::uint64_t connections = 0;  // open connections that said this identity
  };
  qmgl_guard _clients_guard;
  std::map<qmgl_client_id, client_counts> _clients;
};

// Reads the values of one message, up to its end (EOL, or EOI for a file). Raises what the
// value reader raises.
std::vector<qmgl_value> kv_read_values(qmgl_input& in);
// Writes each value with its stream_out.
void kv_write_values(qmgl_output& out, std::vector<qmgl_value> const& values);

#endif  // WYGL_KV_SERVICE_H
