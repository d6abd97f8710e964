// TCP sockets over loopback: listening factories, accepted and connecting sockets, their
// failures, codes and trace records. Every port is a free one named in a temporary services
// file; every wait is bounded.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_socket.h>

#include "support/loopback_host.h"
#include "support/loopback_services.h"
#include "support/raised.h"
#include "support/trace_capture.h"

namespace {

using namespace std::chrono_literals;
using records = std::vector<captured_record>;

// Record kinds, tracepoints, and the socket errors that the tests meet.
constexpr std::uint32_t entered = 0x06200000, left = 0x06210000, error_text = 0x06040000;
constexpr std::uint32_t resource = 0x06220000, state_note = 0x062C0000;
constexpr std::uint32_t socket_class = 0x140D0000, socket_constructor = 0x140D0100;
constexpr std::uint32_t socket_destructor = 0x140D0200, service_lookup = 0x140D0300;
constexpr std::uint32_t host_lookup = 0x140D0400, close_socket_tp = 0x140D0B00;
constexpr std::uint32_t reconnect_tp = 0x140D0C00, read_tp = 0x140D0D00, write_tp = 0x140D0E00;
constexpr std::uint32_t factory_class = 0x140E0000, factory_constructor = 0x140E0100;
constexpr std::uint32_t factory_destructor = 0x140E0200;
constexpr std::uint32_t wsaenotsock = 10038, wsaeconnrefused = 10061;
constexpr std::uint32_t wsahost_not_found = 11001, wsano_data = 11004;
constexpr int wait_seconds = 20;

// Both ends of a connection; server is null when no connection arrived in time.
struct connected_pair {
  std::unique_ptr<qmgl_socket> client;
  std::unique_ptr<qmgl_socket> server;
};

// The socket that listener accepts while connect runs; every read of it waits at most
// wait_seconds.
std::unique_ptr<qmgl_socket> accept_while(qmgl_socket_factory& listener,
                                          std::function<void()> const& connect) {
  auto accepting = std::async(std::launch::async,
                              [&listener] { return std::make_unique<qmgl_socket>(listener); });
  connect();
  if (accepting.wait_for(std::chrono::seconds(wait_seconds)) != std::future_status::ready)
    return nullptr;
  auto server = accepting.get();
  server->doSelectWait(wait_seconds);
  return server;
}

connected_pair connect_through(qmgl_socket_factory& listener, std::string const& service,
                               char const* host = "127.0.0.1") {
  connected_pair pair;
  pair.server = accept_while(listener, [&] {
    pair.client = std::make_unique<qmgl_socket>(service.c_str(), host);
    pair.client->doSelectWait(wait_seconds);
  });
  return pair;
}

// Sends text from one end and reads it whole at the other.
bool carries(qmgl_socket& from, qmgl_socket& to, std::string text) {
  for (std::size_t done = 0; done < text.size();)
    done += from.write(text.data() + done, static_cast<unsigned int>(text.size() - done));
  std::string got(text.size(), '\0');
  for (std::size_t done = 0; done < got.size();) {
    unsigned int const n = to.read(got.data() + done, static_cast<unsigned int>(got.size() - done));
    if (n == 0) return false;
    done += n;
  }
  return got == text;
}

// True when one message goes each way between the two ends.
bool talks(connected_pair const& pair) {
  return pair.client && pair.server && carries(*pair.client, *pair.server, "ping") &&
         carries(*pair.server, *pair.client, "pong");
}

// What a read threw: the plain code, or nothing.
std::optional<unsigned long> read_failure(qmgl_socket& socket) {
  char byte = 0;
  try {
    socket.read(&byte, 1);
  } catch (unsigned long code) {
    return code;
  }
  return std::nullopt;
}

// The records of one object, given by its word so that a destroyed object can be named.
records of_object(records const& all, std::uint64_t object) {
  return records_where(all, [object](captured_record const& r) { return r.object == object; });
}

records of_kind(records const& all, std::uint32_t kind) {
  return records_where(all, [kind](captured_record const& r) { return r.kind == kind; });
}

// The entry records of the operation at tracepoint.
records entries_at(records const& all, std::uint32_t tracepoint) {
  return records_where(all, [tracepoint](captured_record const& r) {
    return r.kind == entered && r.tracepoint == tracepoint;
  });
}

std::string printed(char const* format, std::uint32_t value) {
  char text[48];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// The handle of the first state note "... = 0x<hex>" among the records.
std::uint32_t handle_in(records const& all) {
  std::string const& note = of_kind(all, state_note).at(0).data;
  return static_cast<std::uint32_t>(std::stoul(note.substr(note.rfind("0x") + 2), nullptr, 16));
}

// The records of an object: an operation's entry (with its text) and exit (result 0), a state
// note, the close of a handle (result 0), the destruction.
captured_record in(std::uint64_t object, std::uint32_t tp, std::string text = {}) {
  return text_record(entered, tp, object, std::move(text));
}
captured_record out(std::uint64_t object, std::uint32_t tp) {
  return value_record(left, tp, object, 0);
}
captured_record note(std::uint64_t object, std::uint32_t tp, char const* format, std::uint32_t h) {
  return text_record(state_note, tp, object, printed(format, h));
}
captured_record closed(std::uint64_t object, std::uint32_t tp, std::uint32_t handle) {
  return text_record(resource, tp, object, printed("close(_handle:0x%x) = rc == 0", handle));
}
captured_record gone(std::uint64_t object, std::uint32_t class_tp) {
  return plain_record(0x061F0000, class_tp, object);
}

void expect_socket_error(raised const& r, std::uint32_t code) {
  EXPECT_TRUE(r.thrown);
  EXPECT_EQ(r.type, typeid(exc_unmapped_t));
  EXPECT_EQ(r.code, code);
  EXPECT_STREQ(r.file, "src/qmgl/qmgl_socket");
}

class Socket : public testing::Test {
 protected:
  loopback_services services;
  std::string const echo = services.add("echo");
};

}  // namespace

// The records of a factory, a connecting and an accepted socket from construction to
// destruction. Constructors write their entry records and no construction record. A second
// close_socket closes nothing (the number may already be another socket's), nor does the
// destructor after it. A factory's type shows in its entry record alone.
TEST_F(Socket, EachObjectWritesItsOperationsWithItsHandleFromStartToEnd) {
  trace_capture capture(0x8 | 0x800 | 0x1000 | 0x4000 | 0x40000);
  // 0 is the one other value the type's enumeration holds.
  auto listener = std::make_unique<qmgl_socket_factory>(echo.c_str(),
                                                        static_cast<qmgl_socket_factory::type>(0));
  connected_pair pair = connect_through(*listener, echo);
  ASSERT_TRUE(talks(pair));
  std::uint64_t const f = object_word(listener.get());
  std::uint64_t const c = object_word(pair.client.get());
  std::uint64_t const s = object_word(pair.server.get());
  records const made = capture.take();
  std::uint32_t const fh = handle_in(of_object(made, f));
  std::uint32_t const ch = handle_in(of_object(made, c));
  std::uint32_t const sh = handle_in(of_object(made, s));
  EXPECT_EQ(of_object(made, f),
            (records{in(f, factory_constructor, echo + ", 0"),
                     in(f, service_lookup, "Service Name:" + echo), out(f, service_lookup),
                     note(f, factory_constructor, "socket handle(Socket Factory) = 0x%x", fh),
                     out(f, factory_constructor)}));
  EXPECT_EQ(of_object(made, c),
            (records{in(c, socket_constructor, echo + ", 127.0.0.1"),
                     note(c, socket_constructor, "socket handle = 0x%x", ch),
                     in(c, service_lookup, "Service Name:" + echo), out(c, service_lookup),
                     in(c, host_lookup, "Host Name:127.0.0.1"), out(c, host_lookup),
                     out(c, socket_constructor)}));
  char factory_address[32];
  std::snprintf(factory_address, sizeof factory_address, "%p", static_cast<void*>(listener.get()));
  EXPECT_EQ(of_object(made, s), (records{in(s, socket_constructor, factory_address),
                                         note(s, socket_constructor, "socket handle = 0x%x", sh),
                                         out(s, socket_constructor)}));

  pair.client->close_socket();
  pair.client->close_socket();
  pair.client.reset();
  pair.server.reset();
  listener.reset();
  std::string const chx = printed("Handle:0x%X", ch);
  std::string const shx = printed("Handle:0x%X", sh);
  EXPECT_EQ(
      capture.take(),
      (records{in(c, close_socket_tp, chx), closed(c, close_socket_tp, ch), out(c, close_socket_tp),
               in(c, close_socket_tp, chx), out(c, close_socket_tp), in(c, socket_destructor, chx),
               out(c, socket_destructor), gone(c, socket_class), in(s, socket_destructor, shx),
               closed(s, socket_destructor, sh), out(s, socket_destructor), gone(s, socket_class),
               in(f, factory_destructor), closed(f, factory_destructor, fh),
               out(f, factory_destructor), gone(f, factory_class)}));
}

// A factory listens on all local addresses without a host, on a host's first address with
// one; a socket without a host connects to this host's name and keeps it for reconnects.
TEST_F(Socket, HostsOfFactoriesAndSockets) {
  std::string const this_host = this_host_name();
  struct {
    char const* listen;
    char const* connect;
    std::string looked_up;  // the host that the socket looks up
  } const cases[] = {{nullptr, nullptr, this_host},
                     {nullptr, "", this_host},
                     {nullptr, "127.0.0.1", "127.0.0.1"},
                     {"localhost", "127.0.0.1", "127.0.0.1"}};
  for (auto const& c : cases) {
    std::string const service = services.add("host");
    std::string const listen = c.listen != nullptr ? c.listen : "(null)";
    std::string const connect = c.connect != nullptr ? c.connect : "(null)";
    SCOPED_TRACE(listen + " " + connect);
    trace_capture capture(0x800 | 0x1000);
    qmgl_socket_factory listener(service.c_str(), c.listen);
    connected_pair pair = connect_through(listener, service, c.connect);
    ASSERT_TRUE(talks(pair));
    pair.server = accept_while(listener, [&] { pair.client->reconnect(); });
    ASSERT_TRUE(talks(pair));
    records const all = capture.take();
    EXPECT_TRUE(of_kind(all, 0x061E0000).empty()) << "no construction records";
    records const made = of_object(all, object_word(&listener));
    EXPECT_EQ(made.at(0).data, service + ", " + listen);
    EXPECT_EQ(entries_at(made, host_lookup).size(), c.listen != nullptr ? 1u : 0u);
    records const connected = of_object(all, object_word(pair.client.get()));
    EXPECT_EQ(connected.at(0).data, service + ", " + connect);
    EXPECT_EQ(entries_at(connected, host_lookup),
              records(2, text_record(entered, host_lookup, pair.client.get(),
                                     "Host Name:" + c.looked_up)));
  }
}

// reconnect closes first and counts every attempt, also one that fails; after a failed one
// the socket holds no handle, so nothing is closed twice, and a later one connects.
TEST_F(Socket, ReconnectClosesFirstAndCountsEveryAttempt) {
  auto listener = std::make_unique<qmgl_socket_factory>(echo.c_str(), qmgl_socket_factory::tcp);
  connected_pair pair = connect_through(*listener, echo);
  ASSERT_TRUE(talks(pair));
  trace_capture capture(0x8 | 0x1000 | 0x4000);
  // An accepted socket has no service: its reconnect fails in the lookup, after the close.
  for (int attempt = 1; attempt <= 2; ++attempt) {
    expect_socket_error(raise_of([&] { pair.server->reconnect(); }), wsano_data);
    EXPECT_EQ(pair.server->get_retry_count(), attempt);
  }
  char byte = 0;
  EXPECT_EQ(pair.client->read(&byte, 1), 0u) << "the accepted connection has ended";
  std::uint64_t const server = object_word(pair.server.get());
  pair.server.reset();
  records const accepted = capture.take();
  EXPECT_EQ(of_kind(accepted, resource).size(), 1u) << "the accepted handle, closed once";
  EXPECT_EQ(entries_at(accepted, service_lookup),
            records(2, text_record(entered, service_lookup, server, "Service Name:")));

  listener.reset();
  expect_socket_error(raise_of([&] { pair.client->reconnect(); }), wsaeconnrefused);
  EXPECT_EQ(pair.client->get_retry_count(), 1);
  pair.client->close_socket();
  std::uint64_t const client = object_word(pair.client.get());
  records const refused = of_object(capture.take(), client);
  EXPECT_EQ(of_kind(refused, resource).size(), 1u) << "the old handle alone";
  EXPECT_EQ(of_kind(refused, error_text),
            (records{text_record(error_text, reconnect_tp, pair.client.get(),
                                 "ERROR connect failure rc=10061\n")}));

  listener = std::make_unique<qmgl_socket_factory>(echo.c_str(), qmgl_socket_factory::tcp);
  for (int attempt = 2; attempt <= 3; ++attempt) {  // on a closed socket, then on an open one
    pair.server = accept_while(*listener, [&] { pair.client->reconnect(); });
    ASSERT_TRUE(talks(pair));
    EXPECT_EQ(pair.client->get_retry_count(), attempt);
    records const again = of_object(capture.take(), client);
    EXPECT_EQ(again.at(0), plain_record(entered, reconnect_tp, pair.client.get()));
    EXPECT_EQ(again.at(1).tracepoint, close_socket_tp) << "a reconnect closes first";
    EXPECT_EQ(of_kind(again, resource).size(), attempt == 2 ? 0u : 1u);
    EXPECT_EQ(again.back(), value_record(left, reconnect_tp, pair.client.get(), 0));
  }
  pair.client->reset_retry_counter();
  EXPECT_EQ(pair.client->get_retry_count(), 0);
}

// A constructor that fails raises the socket error; bind and connect write an error text
// first, the lookups none.
TEST_F(Socket, FailedConstructionRaisesTheSocketError) {
  qmgl_socket_factory listener(echo.c_str(), qmgl_socket_factory::tcp);
  std::string const closed = services.add("closed");
  std::string const number = std::to_string(services.port(closed));  // a port is no name
  using factory = qmgl_socket_factory;
  struct {
    std::function<void()> make;
    std::uint32_t code;
    std::uint32_t wine_code;  // Wine refuses a port in use with 10013
    char const* failure;      // the step that writes an error text
  } const cases[] = {
      {[&] { qmgl_socket s(closed.c_str(), "127.0.0.1"); }, wsaeconnrefused, 0, "connect"},
      {[&] { qmgl_socket s("no-such-service", "127.0.0.1"); }, wsano_data, 0, nullptr},
      {[&] { qmgl_socket s(number.c_str(), "127.0.0.1"); }, wsano_data, 0, nullptr},
      {[&] { qmgl_socket s(echo.c_str(), "no-such-host.invalid"); }, wsahost_not_found, 0, nullptr},
      {[&] { factory f("no-such-service", factory::tcp); }, wsano_data, 0, nullptr},
      {[&] { factory f(number.c_str(), factory::tcp); }, wsano_data, 0, nullptr},
      {[&] { factory f(closed.c_str(), "no-such-host.invalid"); }, wsahost_not_found, 0, nullptr},
      {[&] { factory f(closed.c_str(), "192.0.2.1"); }, 10049, 0, "bind"},  // TEST-NET-1
      {[&] { factory f(echo.c_str(), factory::tcp); }, 10048, 10013, "bind"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(&c - cases);
    trace_capture capture(0x8);
    raised const r = raise_of(c.make);
    expect_socket_error(r, c.wine_code != 0 && r.code == c.wine_code ? c.wine_code : c.code);
    records const texts = capture.take();
    if (c.failure == nullptr) {
      EXPECT_EQ(texts, records{});
      continue;
    }
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].tracepoint, *c.failure == 'c' ? socket_constructor : factory_constructor);
    EXPECT_EQ(texts[0].data,
              std::string("ERROR ") + c.failure + " failure rc=" + std::to_string(r.code) + "\n");
  }
  EXPECT_TRUE(talks(connect_through(listener, echo))) << "the listener is untouched";
}

// A select wait that times out throws the plain code after the wait (whatever the thread's
// last socket error was); reads and writes on a closed socket fail with WSAENOTSOCK; a peer
// that has gone reads as 0 bytes, and a write to it raises, without a signal.
TEST_F(Socket, ReadAndWriteFailuresWriteTheirErrorTexts) {
  qmgl_socket_factory listener(echo.c_str(), qmgl_socket_factory::tcp);
  trace_capture capture(0x8 | 0x40000);
  connected_pair pair = connect_through(listener, echo);
  ASSERT_TRUE(talks(pair));
  std::string const handle =
      printed("0x%X", handle_in(of_object(capture.take(), object_word(pair.client.get()))));
  pair.client->doSelectWait(1);
  auto const start = std::chrono::steady_clock::now();
  std::optional<unsigned long> const code = read_failure(*pair.client);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 990ms);
  ASSERT_TRUE(code.has_value());
  EXPECT_TRUE(carries(*pair.server, *pair.client, "late")) << "the socket still works";

  pair.client->close_socket();
  EXPECT_EQ(read_failure(*pair.client), std::optional<unsigned long>(wsaenotsock));
  char data[] = "data";
  expect_socket_error(raise_of([&] { pair.client->write(data, 4); }), wsaenotsock);
  qmgl_socket fresh(echo.c_str(), "127.0.0.1");  // no read waits: the receive itself fails
  fresh.close_socket();
  EXPECT_EQ(read_failure(fresh), std::optional<unsigned long>(wsaenotsock));
  std::string const reason = system_text(wsaenotsock);  // Wine's message table has none
  std::string const socket = "ERROR Socket(" + handle + ") ";
  auto const error_at = [](std::uint32_t tp, void const* object, std::string message) {
    return text_record(error_text, tp, object, std::move(message));
  };
  EXPECT_EQ(of_kind(capture.take(), error_text),
            (records{error_at(read_tp, pair.client.get(),
                              socket + "Select selcRC=0(0x0)rc=" + std::to_string(*code) + "\n" +
                                  system_text(static_cast<std::uint32_t>(*code))),
                     error_at(read_tp, pair.client.get(),
                              socket + "Select selcRC=-1(0xFFFFFFFF)rc=10038\n" + reason),
                     error_at(write_tp, pair.client.get(), socket + "write rc=10038\n" + reason),
                     error_at(read_tp, &fresh, "ERROR Socket Recv rc=10038\n" + reason)}));

  char byte = 0;
  EXPECT_EQ(pair.server->read(&byte, 1), 0u);
  std::string block(65536, 'x');
  raised gone;
  for (int attempt = 0; attempt < 1000 && !gone.thrown; ++attempt)
    gone = raise_of([&] { pair.server->write(block.data(), 65536); });
  EXPECT_EQ(gone.type, typeid(exc_unmapped_t));
  EXPECT_TRUE(gone.code == 10053 || gone.code == 10054 || gone.code == 10058) << gone.code;
}
