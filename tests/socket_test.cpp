// TCP sockets over loopback: listening factories, accepted and connecting sockets, their
// failures, codes and trace records. Every port is a free one named in a temporary services
// file; every wait is bounded.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
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

constexpr std::uint32_t entered = 0x06200000;
constexpr std::uint32_t left = 0x06210000;
constexpr std::uint32_t error_text = 0x06040000;
constexpr std::uint32_t resource = 0x06220000;
constexpr std::uint32_t state_note = 0x062C0000;
constexpr std::uint32_t all_socket_levels = 0x8 | 0x1000 | 0x4000 | 0x40000;

constexpr std::uint32_t socket_constructor = 0x140D0100;
constexpr std::uint32_t socket_destructor = 0x140D0200;
constexpr std::uint32_t service_lookup = 0x140D0300;
constexpr std::uint32_t host_lookup = 0x140D0400;
constexpr std::uint32_t close_socket_tp = 0x140D0B00;
constexpr std::uint32_t reconnect_tp = 0x140D0C00;
constexpr std::uint32_t read_tp = 0x140D0D00;
constexpr std::uint32_t write_tp = 0x140D0E00;
constexpr std::uint32_t factory_constructor = 0x140E0100;
constexpr std::uint32_t factory_destructor = 0x140E0200;

constexpr std::uint32_t wsaenotsock = 10038;
constexpr std::uint32_t wsaeaddrinuse = 10048;
constexpr std::uint32_t wsaeconnrefused = 10061;
constexpr std::uint32_t wsahost_not_found = 11001;
constexpr std::uint32_t wsano_data = 11004;

constexpr auto accept_limit = 20s;
constexpr int read_wait_seconds = 20;

std::future<std::unique_ptr<qmgl_socket>> accept_next(qmgl_socket_factory& listener) {
  return std::async(std::launch::async,
                    [&listener] { return std::make_unique<qmgl_socket>(listener); });
}

// The accepted socket, or null when none arrived in time.
std::unique_ptr<qmgl_socket> accepted_within_limit(
    std::future<std::unique_ptr<qmgl_socket>>& accepting) {
  if (accepting.wait_for(accept_limit) != std::future_status::ready) return nullptr;
  return accepting.get();
}

// Both ends of a connection through listener, each reading with a bounded wait.
struct connected_pair {
  std::unique_ptr<qmgl_socket> client;
  std::unique_ptr<qmgl_socket> server;
};

connected_pair connect_through(qmgl_socket_factory& listener, std::string const& service,
                               char const* host = "127.0.0.1") {
  auto accepting = accept_next(listener);
  connected_pair pair;
  pair.client = std::make_unique<qmgl_socket>(service.c_str(), host);
  pair.server = accepted_within_limit(accepting);
  pair.client->doSelectWait(read_wait_seconds);
  if (pair.server) pair.server->doSelectWait(read_wait_seconds);
  return pair;
}

// Connects again through reconnect, with the listener accepting the new connection.
std::unique_ptr<qmgl_socket> reconnect_through(qmgl_socket_factory& listener, qmgl_socket& client) {
  auto accepting = accept_next(listener);
  client.reconnect();
  return accepted_within_limit(accepting);
}

void write_all(qmgl_socket& socket, std::string text) {
  std::size_t done = 0;
  while (done < text.size())
    done += socket.write(text.data() + done, static_cast<unsigned int>(text.size() - done));
}

std::string read_exactly(qmgl_socket& socket, std::size_t n) {
  std::string text(n, '\0');
  std::size_t done = 0;
  while (done < n) {
    unsigned int const got = socket.read(text.data() + done, static_cast<unsigned int>(n - done));
    if (got == 0) break;
    done += got;
  }
  text.resize(done);
  return text;
}

// True when one message goes each way between the two ends.
bool talks(connected_pair const& pair) {
  if (!pair.client || !pair.server) return false;
  write_all(*pair.client, "ping");
  if (read_exactly(*pair.server, 4) != "ping") return false;
  write_all(*pair.server, "pong");
  return read_exactly(*pair.client, 4) == "pong";
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

// The object as its word, so that an object already destroyed can be named without using
// its pointer after the delete.
std::vector<captured_record> of_object(std::vector<captured_record> const& records,
                                       std::uint64_t object) {
  return records_where(records, [object](captured_record const& r) { return r.object == object; });
}

std::vector<captured_record> of_object(std::vector<captured_record> const& records,
                                       void const* object) {
  return of_object(records, object_word(object));
}

std::vector<captured_record> of_kind(std::vector<captured_record> const& records,
                                     std::uint32_t kind) {
  return records_where(records, [kind](captured_record const& r) { return r.kind == kind; });
}

std::string hex(std::uint32_t value, bool upper) {
  char text[16];
  std::snprintf(text, sizeof text, upper ? "%X" : "%x", value);
  return text;
}

// The handle named in a state note "... = 0x<hex>".
std::uint32_t handle_in(captured_record const& note) {
  std::size_t const at = note.data.rfind("0x");
  return at == std::string::npos
             ? 0xFFFFFFFFu
             : static_cast<std::uint32_t>(std::stoul(note.data.substr(at + 2), nullptr, 16));
}

std::string close_text(std::uint32_t handle) {
  return "close(_handle:0x" + hex(handle, false) + ") = rc == 0";
}

void expect_socket_error(raised const& r, std::uint32_t code) {
  EXPECT_TRUE(r.thrown);
  EXPECT_EQ(r.type, typeid(exc_unmapped_t));
  EXPECT_EQ(r.code, code);
  EXPECT_STREQ(r.file, "src/qmgl/qmgl_socket");
}

// The records hold exactly one error text, from the operation at tracepoint.
void expect_one_error_text(std::vector<captured_record> const& records, std::uint32_t tracepoint,
                           std::string const& text) {
  auto const texts = of_kind(records, error_text);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].tracepoint, tracepoint);
  EXPECT_EQ(texts[0].data, text);
}

class Socket : public testing::Test {
 protected:
  loopback_services services;
  std::string const echo = services.add("echo");
};

TEST_F(Socket, CarriesBytesBothWaysAndReadsZeroOnceThePeerHasClosed) {
  qmgl_socket_factory listener(echo.c_str(), qmgl_socket_factory::tcp);
  connected_pair pair = connect_through(listener, echo);
  ASSERT_TRUE(pair.server);
  std::string const large(100000, 'x');
  auto sending = std::async(std::launch::async, [&] { write_all(*pair.client, large); });
  EXPECT_EQ(read_exactly(*pair.server, large.size()), large);
  ASSERT_EQ(sending.wait_for(accept_limit), std::future_status::ready);

  write_all(*pair.server, "reply");
  EXPECT_EQ(read_exactly(*pair.client, 5), "reply");
  pair.server->close_socket();
  char byte = 0;
  EXPECT_EQ(pair.client->read(&byte, 1), 0u);
}

TEST_F(Socket, ConnectingWritesItsOperationsWithTheHandleAndTheLookups) {
  qmgl_socket_factory listener(echo.c_str(), qmgl_socket_factory::tcp);
  auto accepting = accept_next(listener);
  trace_capture capture(all_socket_levels);
  auto client = std::make_unique<qmgl_socket>(echo.c_str(), "127.0.0.1");
  auto const records = of_object(capture.take(), client.get());
  ASSERT_EQ(records.size(), 7u);
  std::uint32_t const handle = handle_in(records[1]);
  std::uint64_t const object = object_word(client.get());
  EXPECT_EQ(records, (std::vector<captured_record>{
                         text_record(entered, socket_constructor, object, echo + ", 127.0.0.1"),
                         text_record(state_note, socket_constructor, object,
                                     "socket handle = 0x" + hex(handle, false)),
                         text_record(entered, service_lookup, object, "Service Name:" + echo),
                         value_record(left, service_lookup, object, 0),
                         text_record(entered, host_lookup, object, "Host Name:127.0.0.1"),
                         value_record(left, host_lookup, object, 0),
                         value_record(left, socket_constructor, object, 0),
                     }));
  ASSERT_TRUE(accepted_within_limit(accepting));

  client.reset();
  EXPECT_EQ(of_object(capture.take(), object),
            (std::vector<captured_record>{
                text_record(entered, socket_destructor, object, "Handle:0x" + hex(handle, true)),
                text_record(resource, socket_destructor, object, close_text(handle)),
                value_record(left, socket_destructor, object, 0)}));
}

// Every constructor writes its entry record instead of a construction record; every
// destructor writes the destruction record.
TEST_F(Socket, ObjectsOfEveryConstructorWriteOnlyTheirDestructionRecord) {
  std::string const other = services.add("other");
  trace_capture capture(0x800);
  auto by_type = std::make_unique<qmgl_socket_factory>(echo.c_str(), qmgl_socket_factory::tcp);
  auto by_host = std::make_unique<qmgl_socket_factory>(other.c_str(), "127.0.0.1");
  connected_pair pair = connect_through(*by_type, echo);
  ASSERT_TRUE(pair.server);
  std::vector<captured_record> const expected = {
      plain_record(0x061F0000, 0x140D0000, pair.server.get()),
      plain_record(0x061F0000, 0x140D0000, pair.client.get()),
      plain_record(0x061F0000, 0x140E0000, by_host.get()),
      plain_record(0x061F0000, 0x140E0000, by_type.get())};
  pair.server.reset();
  pair.client.reset();
  by_host.reset();
  by_type.reset();
  EXPECT_EQ(capture.take(), expected);
}

TEST_F(Socket, ANullOrEmptyHostConnectsToThisHostAndKeepsItsNameForReconnect) {
  qmgl_socket_factory listener(echo.c_str(), qmgl_socket_factory::tcp);
  std::string const host_record = "Host Name:" + this_host_name();
  for (char const* host : {static_cast<char const*>(nullptr), ""}) {
    SCOPED_TRACE(host == nullptr ? "null host" : "empty host");
    trace_capture capture(0x1000);
    connected_pair pair = connect_through(listener, echo, host);
    ASSERT_TRUE(talks(pair));
    auto const made = of_object(capture.take(), pair.client.get());
    ASSERT_FALSE(made.empty());
    EXPECT_EQ(made[0].data, echo + (host == nullptr ? ", (null)" : ", "));
    EXPECT_EQ(std::count(made.begin(), made.end(),
                         text_record(entered, host_lookup, pair.client.get(), host_record)),
              1);

    pair.server = reconnect_through(listener, *pair.client);
    ASSERT_TRUE(talks(pair));
    auto const again = of_object(capture.take(), pair.client.get());
    EXPECT_EQ(std::count(again.begin(), again.end(),
                         text_record(entered, host_lookup, pair.client.get(), host_record)),
              1);
  }
}

TEST_F(Socket, CloseSocketThenDestructionClosesTheHandleOnce) {
  qmgl_socket_factory listener(echo.c_str(), qmgl_socket_factory::tcp);
  trace_capture capture(0x1000 | 0x4000 | 0x40000);
  connected_pair pair = connect_through(listener, echo);
  ASSERT_TRUE(pair.server);
  std::uint64_t const object = object_word(pair.client.get());
  std::uint32_t const handle =
      handle_in(of_kind(of_object(capture.take(), pair.client.get()), state_note).at(0));
  std::string const handle_text = "Handle:0x" + hex(handle, true);

  pair.client->close_socket();
  pair.client->close_socket();  // closes nothing: the number may already be another socket's
  pair.client.reset();
  EXPECT_EQ(of_object(capture.take(), object),
            (std::vector<captured_record>{
                text_record(entered, close_socket_tp, object, handle_text),
                text_record(resource, close_socket_tp, object, close_text(handle)),
                value_record(left, close_socket_tp, object, 0),
                text_record(entered, close_socket_tp, object, handle_text),
                value_record(left, close_socket_tp, object, 0),
                text_record(entered, socket_destructor, object, handle_text),
                value_record(left, socket_destructor, object, 0)}));
}

TEST_F(Socket, ReconnectAfterCloseSocketConnectsAgainAndCountsTheAttempt) {
  qmgl_socket_factory listener(echo.c_str(), qmgl_socket_factory::tcp);
  connected_pair pair = connect_through(listener, echo);
  ASSERT_TRUE(talks(pair));
  EXPECT_EQ(pair.client->get_retry_count(), 0);
  pair.client->close_socket();
  char byte = 0;
  EXPECT_EQ(pair.server->read(&byte, 1), 0u) << "the old connection has ended";

  trace_capture capture(0x1000 | 0x40000);
  pair.server = reconnect_through(listener, *pair.client);
  ASSERT_TRUE(talks(pair));
  EXPECT_EQ(pair.client->get_retry_count(), 1);
  auto const records = of_object(capture.take(), pair.client.get());
  ASSERT_GE(records.size(), 3u);
  EXPECT_EQ(records[0], plain_record(entered, reconnect_tp, pair.client.get()));
  EXPECT_EQ(records[1].tracepoint, close_socket_tp) << "a reconnect closes first";
  EXPECT_EQ(of_kind(records, state_note).at(0).tracepoint, reconnect_tp);
  EXPECT_EQ(records.back(), value_record(left, reconnect_tp, pair.client.get(), 0));

  pair.server = reconnect_through(listener, *pair.client);  // on an open socket
  ASSERT_TRUE(talks(pair));
  EXPECT_EQ(pair.client->get_retry_count(), 2);
  pair.client->reset_retry_counter();
  EXPECT_EQ(pair.client->get_retry_count(), 0);
}

TEST_F(Socket, ReconnectOfAnAcceptedSocketFailsInTheServiceLookupAfterCountingTheAttempt) {
  qmgl_socket_factory listener(echo.c_str(), qmgl_socket_factory::tcp);
  connected_pair pair = connect_through(listener, echo);
  ASSERT_TRUE(talks(pair));
  trace_capture capture(0x1000 | 0x4000);
  expect_socket_error(raise_of([&] { pair.server->reconnect(); }), wsano_data);
  EXPECT_EQ(pair.server->get_retry_count(), 1);
  auto const records = of_object(capture.take(), pair.server.get());
  EXPECT_EQ(of_kind(records, resource).size(), 1u) << "the accepted handle was closed";
  EXPECT_EQ(std::count(records.begin(), records.end(),
                       text_record(entered, service_lookup, pair.server.get(), "Service Name:")),
            1);
  char byte = 0;
  EXPECT_EQ(pair.client->read(&byte, 1), 0u);

  expect_socket_error(raise_of([&] { pair.server->reconnect(); }), wsano_data);
  EXPECT_EQ(pair.server->get_retry_count(), 2);
  pair.server->close_socket();
  pair.server.reset();
  EXPECT_TRUE(of_kind(capture.take(), resource).empty())
      << "after a failed reconnect nothing is left to close";
}

TEST_F(Socket, AFailedReconnectLeavesTheSocketClosedAndALaterOneConnects) {
  auto listener = std::make_unique<qmgl_socket_factory>(echo.c_str(), qmgl_socket_factory::tcp);
  connected_pair pair = connect_through(*listener, echo);
  ASSERT_TRUE(talks(pair));
  listener.reset();
  pair.server.reset();

  trace_capture capture(0x8 | 0x4000);
  expect_socket_error(raise_of([&] { pair.client->reconnect(); }), wsaeconnrefused);
  EXPECT_EQ(pair.client->get_retry_count(), 1);
  EXPECT_EQ(
      of_object(capture.take(), pair.client.get()).back(),
      text_record(error_text, reconnect_tp, pair.client.get(), "ERROR connect failure rc=10061\n"));
  pair.client->close_socket();
  EXPECT_TRUE(capture.take().empty()) << "the failed attempt's handle is closed already";

  listener = std::make_unique<qmgl_socket_factory>(echo.c_str(), qmgl_socket_factory::tcp);
  pair.server = reconnect_through(*listener, *pair.client);
  ASSERT_TRUE(talks(pair));
  EXPECT_EQ(pair.client->get_retry_count(), 2);
  std::uint64_t const object = object_word(pair.client.get());
  pair.client.reset();
  EXPECT_EQ(of_kind(of_object(capture.take(), object), resource).size(), 1u);
}

TEST_F(Socket, ConnectingWhereNothingListensRaisesConnectionRefused) {
  trace_capture capture(0x8);
  raised const r = raise_of([&] { qmgl_socket client(echo.c_str(), "127.0.0.1"); });
  expect_socket_error(r, wsaeconnrefused);
  expect_one_error_text(capture.take(), socket_constructor, "ERROR connect failure rc=10061\n");
}

TEST_F(Socket, AServiceMissingFromTheServicesRaisesNoDataAlsoWhenItIsANumber) {
  qmgl_socket_factory listener(echo.c_str(), qmgl_socket_factory::tcp);
  std::string const port_number = std::to_string(services.port(echo));
  for (std::string const& service : {std::string("no-such-service"), port_number}) {
    SCOPED_TRACE(service);
    expect_socket_error(raise_of([&] { qmgl_socket client(service.c_str(), "127.0.0.1"); }),
                        wsano_data);
  }
}

TEST_F(Socket, AnUnknownHostRaisesHostNotFound) {
  qmgl_socket_factory listener(echo.c_str(), qmgl_socket_factory::tcp);
  expect_socket_error(raise_of([&] { qmgl_socket client(echo.c_str(), "no-such-host.invalid"); }),
                      wsahost_not_found);
}

TEST_F(Socket, ASelectWaitWithoutDataThrowsThePlainCodeAfterTheWait) {
  qmgl_socket_factory listener(echo.c_str(), qmgl_socket_factory::tcp);
  trace_capture capture(0x8 | 0x40000);
  connected_pair pair = connect_through(listener, echo);
  ASSERT_TRUE(pair.server);
  std::uint32_t const handle =
      handle_in(of_kind(of_object(capture.take(), pair.client.get()), state_note).at(0));
  pair.client->doSelectWait(1);
  auto const start = std::chrono::steady_clock::now();
  std::optional<unsigned long> const code = read_failure(*pair.client);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 990ms);
  ASSERT_TRUE(code.has_value());
  // The code is whatever the thread's last socket error was: a time-out sets none.
  auto const number = static_cast<std::uint32_t>(*code);
  expect_one_error_text(capture.take(), read_tp,
                        "ERROR Socket(0x" + hex(handle, true) + ") Select selcRC=0(0x0)rc=" +
                            std::to_string(number) + "\n" + system_text(number));

  write_all(*pair.server, "late");
  EXPECT_EQ(read_exactly(*pair.client, 4), "late") << "the socket still works";
}

TEST_F(Socket, ReadAndWriteAfterCloseSocketFailWithNotASocket) {
  qmgl_socket_factory listener(echo.c_str(), qmgl_socket_factory::tcp);
  connected_pair pair = connect_through(listener, echo);
  ASSERT_TRUE(pair.server);
  trace_capture capture(0x8 | 0x1000);
  pair.client->close_socket();
  std::string const handle = of_object(capture.take(), pair.client.get()).at(0).data.substr(7);
  std::string const reason = system_text(wsaenotsock);  // Wine's message table has none

  EXPECT_EQ(read_failure(*pair.client), std::optional<unsigned long>(wsaenotsock));
  char data[] = "data";
  expect_socket_error(raise_of([&] { pair.client->write(data, 4); }), wsaenotsock);
  qmgl_socket fresh(echo.c_str(), "127.0.0.1");  // no read waits: the receive itself fails
  fresh.close_socket();
  EXPECT_EQ(read_failure(fresh), std::optional<unsigned long>(wsaenotsock));

  auto const texts = of_kind(capture.take(), error_text);
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0], text_record(error_text, read_tp, pair.client.get(),
                                  "ERROR Socket(" + handle + ") Select selcRC=-1(0xFFFFFFFF)rc=" +
                                      std::to_string(wsaenotsock) + "\n" + reason));
  EXPECT_EQ(texts[1], text_record(error_text, write_tp, pair.client.get(),
                                  "ERROR Socket(" + handle + ") write rc=10038\n" + reason));
  EXPECT_EQ(texts[2],
            text_record(error_text, read_tp, &fresh, "ERROR Socket Recv rc=10038\n" + reason));
}

TEST_F(Socket, WritingToAPeerThatHasGoneRaisesAndRaisesNoSignal) {
  qmgl_socket_factory listener(echo.c_str(), qmgl_socket_factory::tcp);
  connected_pair pair = connect_through(listener, echo);
  ASSERT_TRUE(talks(pair));
  pair.server.reset();
  std::string const block(65536, 'x');
  raised r;
  for (int attempt = 0; attempt < 1000 && !r.thrown; ++attempt)
    r = raise_of([&] { write_all(*pair.client, block); });
  ASSERT_TRUE(r.thrown);
  EXPECT_EQ(r.type, typeid(exc_unmapped_t));
  EXPECT_TRUE(r.code == 10053 || r.code == 10054 || r.code == 10058) << r.code;
}

class SocketFactory : public Socket {};

TEST_F(SocketFactory, TheTypeOnlyAppearsInTheEntryRecord) {
  trace_capture capture(all_socket_levels);
  // 0 is the one other value the enumeration holds; the factory still makes a TCP socket.
  auto listener = std::make_unique<qmgl_socket_factory>(echo.c_str(),
                                                        static_cast<qmgl_socket_factory::type>(0));
  std::uint64_t const object = object_word(listener.get());
  auto const made = of_object(capture.take(), listener.get());
  ASSERT_EQ(made.size(), 5u);
  std::uint32_t const handle = handle_in(made[3]);
  EXPECT_EQ(made, (std::vector<captured_record>{
                      text_record(entered, factory_constructor, object, echo + ", 0"),
                      text_record(entered, service_lookup, object, "Service Name:" + echo),
                      value_record(left, service_lookup, object, 0),
                      text_record(state_note, factory_constructor, object,
                                  "socket handle(Socket Factory) = 0x" + hex(handle, false)),
                      value_record(left, factory_constructor, object, 0)}));
  EXPECT_TRUE(talks(connect_through(*listener, echo))) << "a TCP stream all the same";

  capture.take();
  listener.reset();
  EXPECT_EQ(of_object(capture.take(), object),
            (std::vector<captured_record>{
                plain_record(entered, factory_destructor, object),
                text_record(resource, factory_destructor, object, close_text(handle)),
                value_record(left, factory_destructor, object, 0)}));
}

TEST_F(SocketFactory, ANullHostListensOnAllLocalAddresses) {
  trace_capture capture(0x1000);
  qmgl_socket_factory listener(echo.c_str(), static_cast<char const*>(nullptr));
  auto const made = of_object(capture.take(), &listener);
  ASSERT_EQ(made.size(), 4u) << "no host lookup";
  EXPECT_EQ(made[0].data, echo + ", (null)");
  EXPECT_TRUE(talks(connect_through(listener, echo, "127.0.0.1")));
  EXPECT_TRUE(talks(connect_through(listener, echo, this_host_name().c_str())));
}

TEST_F(SocketFactory, AHostNameListensOnItsFirstAddress) {
  trace_capture capture(0x1000);
  qmgl_socket_factory listener(echo.c_str(), "localhost");
  auto const made = of_object(capture.take(), &listener);
  EXPECT_EQ(made.at(0).data, echo + ", localhost");
  EXPECT_EQ(std::count(made.begin(), made.end(),
                       text_record(entered, host_lookup, &listener, "Host Name:localhost")),
            1);
  EXPECT_TRUE(talks(connect_through(listener, echo, "127.0.0.1")));
}

TEST_F(SocketFactory, AFailedBindRaisesItsCodeAfterAnErrorText) {
  trace_capture capture(0x8);
  // A documentation address (TEST-NET-1) that no interface of this machine has.
  expect_socket_error(raise_of([&] { qmgl_socket_factory listener(echo.c_str(), "192.0.2.1"); }),
                      10049);
  expect_one_error_text(capture.take(), factory_constructor, "ERROR bind failure rc=10049\n");
}

// BSD sockets refuse a port that a listener holds, SO_REUSEADDR or not (10048); Wine refuses
// it with 10013. Windows itself lets a socket with SO_REUSEADDR share the port.
TEST_F(SocketFactory, APortThatIsTakenIsRefused) {
  qmgl_socket_factory listener(echo.c_str(), qmgl_socket_factory::tcp);
  trace_capture capture(0x8);
  raised const r =
      raise_of([&] { qmgl_socket_factory second(echo.c_str(), qmgl_socket_factory::tcp); });
  EXPECT_TRUE(r.code == wsaeaddrinuse || r.code == 10013) << r.code;
  EXPECT_EQ(r.type, typeid(exc_unmapped_t));
  expect_one_error_text(capture.take(), factory_constructor,
                        "ERROR bind failure rc=" + std::to_string(r.code) + "\n");
  EXPECT_TRUE(talks(connect_through(listener, echo))) << "the first listener is untouched";
}

TEST_F(SocketFactory, AnUnknownServiceOrHostRaises) {
  std::string const unused_number = std::to_string(services.port(services.add("unused")));
  for (std::string const& service : {std::string("no-such-service"), unused_number}) {
    SCOPED_TRACE(service);
    expect_socket_error(
        raise_of([&] { qmgl_socket_factory listener(service.c_str(), qmgl_socket_factory::tcp); }),
        wsano_data);
  }
  expect_socket_error(
      raise_of([&] { qmgl_socket_factory listener(echo.c_str(), "no-such-host.invalid"); }),
      wsahost_not_found);
}

}  // namespace
