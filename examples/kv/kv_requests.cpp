// The answers to requests (the protocol is described in kv_service.h).

#include <chrono>
#include <cstring>
#include <string>

#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_value_reader.h>

#include "kv_hold.h"
#include "kv_service.h"
#include "kv_text.h"

namespace {

constexpr std::chrono::seconds sync_limit(30);
constexpr std::chrono::minutes compact_limit(5);

using reply_t = std::vector<qmgl_value>;

reply_t ok(qmgl_value result) {
  return {qmgl_value("ok"), std::move(result)};
}

reply_t error(std::string const& message) {
  return {qmgl_value("error"), qmgl_value(message.c_str())};
}

reply_t not_found(std::string const& key) {
  return {qmgl_value("not_found"), qmgl_value(key.c_str())};
}

reply_t ok_or_not_found(std::optional<std::uint32_t> seq, std::string const& key) {
  if (!seq) return not_found(key);
  return ok(static_cast<int>(*seq));
}

std::string key_of(qmgl_value const& v) {
  return std::string(v.as_charp(), v.as_str().length());
}

// Whether request is its name followed by arguments of the given types; 's' STR, 'i' INT,
// 'u' UNI, 'v' any value.
bool shaped(reply_t const& request, char const* types) {
  if (request.size() != 1 + std::strlen(types)) return false;
  for (std::size_t i = 0; types[i] != '\0'; ++i) {
    qmgl_value const& argument = request[i + 1];
    bool const fits = types[i] == 'v' || (types[i] == 's' && argument.is_str()) ||
                      (types[i] == 'i' && argument.is_int()) ||
                      (types[i] == 'u' && argument.is_uni());
    if (!fits) return false;
  }
  return true;
}

qmgl_value number(std::uint64_t n) {
  return qmgl_value(static_cast<int>(n));
}

}  // namespace

std::vector<qmgl_value> kv_read_values(qmgl_input& in) {
  std::vector<qmgl_value> values;
  for (;;) {
    qmgl_value v;
    in >> v;
    if (kv_is_end(v)) return values;
    values.push_back(std::move(v));
  }
}

void kv_write_values(qmgl_output& out, std::vector<qmgl_value> const& values) {
  for (qmgl_value const& v : values)
    v.stream_out(out);
}

kv_incoming kv_read_request(qmgl_input& in) {
  kv_incoming request;
  try {
    request.values = kv_read_values(in);
  } catch (exc_t const& e) {
    request.unreadable = kv_one_line(e.message);
  }
  return request;
}

std::vector<qmgl_value> kv_stopping_reply() {
  return error("the service is stopping");
}

void kv_service::serve(kv_session& session, qmgl_input& in, qmgl_output& out) {
  reply(session, kv_read_request(in), out);
}

void kv_service::reply(kv_session& session, kv_incoming const& request, qmgl_output& out) {
  if (request.unreadable) {
    count_request(session);
    _errors.fetch_add(1);
    kv_write_values(out, error(*request.unreadable));
    return;
  }
  reply_t answered;
  try {
    answered = answer(session, request.values);
  } catch (exc_t const& e) {
    _errors.fetch_add(1);
    answered = error(kv_one_line(e.message));
  }
  kv_write_values(out, answered);
}

std::vector<qmgl_value> kv_service::answer(kv_session& session, reply_t const& request) {
  count_request(session);
  reply_t reply;
  std::uint64_t const now = kv_now();
  char const* const name = !request.empty() && request[0].is_str() ? request[0].as_charp() : "";
  auto const is = [name](char const* word) { return std::strcmp(name, word) == 0; };
  bool const changes = is("put") || is("del") || is("expire");
  if (request.empty()) {
    reply = error("empty request");
  } else if (!request[0].is_str()) {
    reply = error("a request starts with its name, an STR such as 'get'");
  } else if (changes && _log.failed()) {
    reply = error("the log has failed, changes are refused: " + _log.failure());
  } else if (is("put")) {
    reply = shaped(request, "sv") ? ok(static_cast<int>(_store.put(key_of(request[1]), request[2])))
                                  : error("put takes a key (an STR) and a value");
  } else if (is("get")) {
    if (!shaped(request, "s")) {
      reply = error("get takes a key (an STR)");
    } else if (auto value = _store.get(key_of(request[1]), now)) {
      reply = ok(std::move(*value));
    } else {
      reply = not_found(key_of(request[1]));
    }
  } else if (is("del")) {
    reply = shaped(request, "s")
                ? ok_or_not_found(_store.del(key_of(request[1]), now), key_of(request[1]))
                : error("del takes a key (an STR)");
  } else if (is("expire")) {
    reply = shaped(request, "si")
                ? ok_or_not_found(_store.expire(key_of(request[1]), request[2].as_int(), now),
                                  key_of(request[1]))
                : error("expire takes a key (an STR) and a number of seconds (an INT)");
  } else if (is("keys")) {
    if (shaped(request, "")) {
      qmgl_value_array names;
      for (std::string const& key : _store.keys(now))
        names += qmgl_value(key.c_str());
      reply = ok(qmgl_value(names));
    } else {
      reply = error("keys takes nothing");
    }
  } else if (is("stats")) {
    reply = shaped(request, "") ? stats() : error("stats takes nothing");
  } else if (is("hello")) {
    reply = shaped(request, "ui") ? hello(session, request)
                                  : error("hello takes a client identity (a UNI and an INT)");
  } else if (is("sync")) {
    if (!shaped(request, "")) {
      reply = error("sync takes nothing");
    } else if (auto flushed = _log.sync(sync_limit)) {
      reply = ok(static_cast<int>(*flushed));
    } else {
      reply = error("the log could not be flushed: " + _log.failure());
    }
  } else if (is("compact")) {
    if (!shaped(request, "")) {
      reply = error("compact takes nothing");
    } else if (auto keys = _log.compact(_store, compact_limit)) {
      reply = ok(number(*keys));
    } else {
      reply = error("the log could not be compacted");
    }
  } else {
    reply = error("unknown request '" + std::string(name) + "'");
  }
  if (std::strcmp(reply[0].as_charp(), "error") == 0) _errors.fetch_add(1);
  return reply;
}

std::vector<qmgl_value> kv_service::hello(kv_session& session, reply_t const& request) {
  unsigned short const* uuid = request[1].as_unicharp();
  qmgl_client_id const said(std::basic_string<unsigned short>(uuid), request[2].as_int());
  forget(session);
  kv_hold hold(_clients_guard);
  ++_clients[said].connections;
  session.client = said;
  return {qmgl_value("ok"), request[1], request[2]};
}

void kv_service::forget(kv_session& session) {
  if (!session.client) return;
  kv_hold hold(_clients_guard);
  auto const found = _clients.find(*session.client);
  if (found != _clients.end() && --found->second.connections == 0) _clients.erase(found);
  session.client.reset();
}

void kv_service::count_request(kv_session const& session) {
  _requests.fetch_add(1);
  if (!session.client) {
    _anonymous.fetch_add(1);
    return;
  }
  kv_hold hold(_clients_guard);
  ++_clients[*session.client].requests;
}

std::vector<qmgl_value> kv_service::stats() {
  qmgl_value_array pairs;
  auto const add = [&pairs](char const* name, std::uint64_t n) {
    pairs += qmgl_value(name);
    pairs += number(n);
  };
  add("connections", _connections.load());
  add("open", _open_connections.load());
  add("requests", _requests.load());
  add("errors", _errors.load());
  add("keys", _store.present(kv_now()));
  add("sequence", _store.seq());
  add("written", _log.written_seq());
  add("flushed", _log.flushed_seq());
  add("compactions", _log.compactions());
  add("anonymous", _anonymous.load());
  reply_t reply{qmgl_value("ok"), qmgl_value(pairs)};
  kv_hold hold(_clients_guard);
  for (auto const& [client, counts] : _clients) {
    qmgl_value_array row;
    std::basic_string<unsigned short> const uuid = client.get_UUID();
    row += qmgl_value(uuid.c_str());
    row += qmgl_value(client.get_connection_id());
    row += number(counts.requests);
    reply.push_back(qmgl_value(row));
  }
  return reply;
}
