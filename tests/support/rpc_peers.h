// The two ends of RPC connections in tests, every wait bounded: clients connect before the
// serving thread accepts (the backlog holds them), so accept never waits for a connection that
// a failed test would not make, and reads on both sides wait in select for at most wait_seconds,
// so every thread ends within a bound and its future can be waited for.
//
//   rpc_endpoint endpoint;                                     // a free loopback port
//   qmgl_rpc_client client(endpoint.service(), "127.0.0.1");   // queued in the backlog
//   auto served = serve_in_thread(endpoint.factory(), [](qmgl_rpc_server& s) { ... });
//   EXPECT_TRUE(finished(served));

#ifndef WYGL_TESTS_SUPPORT_RPC_PEERS_H
#define WYGL_TESTS_SUPPORT_RPC_PEERS_H

#include <chrono>
#include <cstdio>
#include <exception>
#include <future>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_rpc.h>
#include <wygl/qmgl_socket.h>
#include <wygl/qmgl_value.h>
#include <wygl/qmgl_value_reader.h>
#include <wygl/wytr_ids.h>

#include "support/loopback_services.h"
#include "support/trace_capture.h"

// The longest any read in these tests waits for data that is due.
inline constexpr int wait_seconds = 10;
inline constexpr auto wait_limit = std::chrono::seconds(30);

// A listening RPC endpoint on a free loopback port.
class rpc_endpoint {
 public:
  char const* service() const { return _service.c_str(); }
  std::string another_service() { return _services.add("rpc"); }  // one more free port
  qmgl_rpc_server_factory& factory() { return _factory; }

 private:
  loopback_services _services;
  std::string _service = _services.add("rpc");
  qmgl_rpc_server_factory _factory{service(), qmgl_rpc_server_factory::tcp};
};

// A client or server request whose socket (reachable) waits at most `seconds` for a read.
template <class Request>
struct bounded : Request {
  template <class Connection>
  explicit bounded(Connection& connection, int seconds = wait_seconds) : Request(connection) {
    this->_socket.doSelectWait(seconds);
  }
  qmgl_socket& socket() { return this->_socket; }
};
using bounded_client_request = bounded<qmgl_rpc_client_request>;
using bounded_server_request = bounded<qmgl_rpc_server_request>;

// Runs serve on a new thread with the next connection accepted from factory.
template <class Serve>
std::future<void> serve_in_thread(qmgl_rpc_server_factory& factory, Serve serve) {
  return std::async(std::launch::async, [&factory, serve]() mutable {
    qmgl_rpc_server connection(factory);
    serve(connection);
  });
}

// Whether the thread behind f ended within the limit; rethrows what it threw.
template <class T>
bool finished(std::future<T>& f, std::chrono::seconds limit = wait_limit) {
  if (f.wait_for(limit) != std::future_status::ready) return false;
  f.get();
  return true;
}

// Answers each request with its own values, in order, until the client closes the connection.
inline void echo_values(qmgl_rpc_server& server, int seconds = wait_seconds) {
  try {
    while (!server.is_client_dead()) {
      bounded_server_request request(server, seconds);
      qmgl_value v;
      for (request >> v; !v._body->is_eol(); request >> v)
        v.stream_out(request);
    }
  } catch (int) {  // the client closed the connection
  }
}

// A raw TCP peer: writes bytes as given and reads whole messages.
class raw_peer {
 public:
  // The client end, connected to service on 127.0.0.1, or the server end: the next
  // connection accepted from factory.
  explicit raw_peer(char const* service) : raw_peer(new qmgl_socket(service, "127.0.0.1")) {}
  explicit raw_peer(qmgl_socket_factory& factory) : raw_peer(new qmgl_socket(factory)) {}

  void close() { _socket->close_socket(); }

  void send(std::string bytes) {
    for (std::size_t sent = 0; sent < bytes.size();)
      sent += _socket->write(bytes.data() + sent, static_cast<unsigned>(bytes.size() - sent));
  }

  // Every byte up to and including the next 0x00, or up to the peer's close. Throws what the
  // socket's read throws (the unsigned long 10060 when nothing comes within wait_seconds).
  std::string receive_message() {
    std::size_t end;
    for (std::size_t from = 0; (end = _pending.find('\0', from)) == std::string::npos;) {
      from = _pending.size();
      if (!read_more()) return std::exchange(_pending, std::string());
    }
    std::string message = _pending.substr(0, end + 1);
    _pending.erase(0, end + 1);
    return message;
  }

  // The next count bytes, whatever they are.
  std::string receive_bytes(std::size_t count) {
    while (_pending.size() < count && read_more()) {
    }
    std::string bytes = _pending.substr(0, count);
    _pending.erase(0, bytes.size());
    return bytes;
  }

 private:
  explicit raw_peer(qmgl_socket* socket) : _socket(socket) { _socket->doSelectWait(wait_seconds); }

  bool read_more() {
    char chunk[65536];
    unsigned int const n = _socket->read(chunk, sizeof chunk);
    _pending.append(chunk, n);
    return n > 0;
  }

  std::unique_ptr<qmgl_socket> _socket;
  std::string _pending;
};

// The record kinds these tests look for.
inline constexpr std::uint32_t kind_error = wytr::kind_word(wytr::kind::error_text);
inline constexpr std::uint32_t kind_state = wytr::kind_word(wytr::kind::state_note);
inline constexpr std::uint32_t kind_wait = wytr::kind_word(wytr::kind::wait_note);
inline constexpr std::uint32_t kind_entered = wytr::kind_word(wytr::kind::public_entered);
inline constexpr std::uint32_t kind_left = wytr::kind_word(wytr::kind::public_left);

// What call let out: "nothing", "int N" (0: the peer closed), "unsigned long" (a failed read),
// an exc_t's type (with code, file and message for a refused message) or a std::exception's text.
template <class Call>
std::string what_leaves(Call&& call) {
  try {
    call();
  } catch (int code) {
    return "int " + std::to_string(code);
  } catch (unsigned long) {
    return "unsigned long";
  } catch (exc_range_overflow_t const& e) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(e.code));
    return std::string("exc_range_overflow_t ") + code + " " + e.file + ": " + e.message;
  } catch (exc_invalid_token_t const&) {
    return "exc_invalid_token_t";
  } catch (exc_t const&) {
    return "exc_t";
  } catch (std::exception const& e) {
    return e.what();
  }
  return "nothing";
}

// The records of the given trace class, in order.
inline std::vector<captured_record> records_of_class(std::vector<captured_record> const& all,
                                                     std::uint8_t class_number) {
  return records_where(all, [class_number](captured_record const& r) {
    return ((r.tracepoint >> 16) & 0xFFu) == class_number;
  });
}

// A record's kind, tracepoint and text: what the records of several objects are compared by.
using note = std::tuple<std::uint32_t, std::uint32_t, std::string>;
template <class... Notes>
std::vector<note> in_order(Notes... notes) {
  return {notes...};
}
inline std::vector<note> notes_of_class(std::vector<captured_record> const& all,
                                        std::uint8_t class_number) {
  std::vector<note> notes;
  for (captured_record const& r : records_of_class(all, class_number))
    notes.emplace_back(r.kind, r.tracepoint, r.data);
  return notes;
}

#endif  // WYGL_TESTS_SUPPORT_RPC_PEERS_H
