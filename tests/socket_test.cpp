// TCP sockets over loopback: factories, accepted and connecting sockets, their failures, codes
// and trace records, on free ports named in a temporary services file; every wait bounded.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_socket.h>

#include "support/loopback_services.h"
#include "support/raised.h"
#include "support/trace_capture.h"

namespace {

using records = std::vector<captured_record>;

constexpr std::uint32_t entered = 0x06200000, left = 0x06210000, error_text = 0x06040000;
constexpr std::uint32_t resource = 0x06220000, state_note = 0x062C0000;
constexpr std::uint32_t socket_constructor = 0x140D0100, socket_destructor = 0x140D0200,
                        service_lookup = 0x140D0300, host_lookup = 0x140D0400,
                        close_socket_tp = 0x140D0B00, reconnect_tp = 0x140D0C00,
                        read_tp = 0x140D0D00, write_tp = 0x140D0E00;
constexpr std::uint32_t factory_constructor = 0x140E0100, factory_destructor = 0x140E0200;
constexpr std::uint32_t wsaenotsock = 10038, wsaeconnrefused = 10061, wsano_data = 11004;
constexpr int wait_seconds = 20;

// The socket that listener (for service on this machine) accepts while connect runs (null if
// none comes), reads bounded. When connect fails or no connection comes, a connection of its
// own ends the accept, which would otherwise hold the accepting thread, and with it this
// function, for ever.
std::unique_ptr<qmgl_socket> accept_while(qmgl_socket_factory& listener, std::string const& service,
                                          std::function<void()> const& connect) {
  auto accepting = std::async(std::launch::async,
                              [&listener] { return std::make_unique<qmgl_socket>(listener); });
  auto const end_accept = [&] {
    try {
      qmgl_socket ending(service.c_str(), "127.0.0.1");
      accepting.wait_for(std::chrono::seconds(wait_seconds));
    } catch (...) {  // the accept has ended otherwise
    }
  };
  try {
    connect();
  } catch (...) {
    end_accept();
    throw;
  }
  if (accepting.wait_for(std::chrono::seconds(wait_seconds)) != std::future_status::ready) {
    end_accept();
    return nullptr;
  }
  auto accepted = accepting.get();
  accepted->doSelectWait(wait_seconds);
  return accepted;
}

struct connected_pair {
  connected_pair(qmgl_socket_factory& listener, std::string const& service,
                 char const* host = "127.0.0.1") {
    server = accept_while(listener, service, [&] {
      client = std::make_unique<qmgl_socket>(service.c_str(), host);
      client->doSelectWait(wait_seconds);
    });
  }
  std::unique_ptr<qmgl_socket> client, server;
};

bool carries(qmgl_socket& from, qmgl_socket& to, std::string text) {
  for (std::size_t done = 0; done < text.size();)
    done += from.write(text.data() + done, static_cast<unsigned int>(text.size() - done));
  std::string got(text.size(), '\0');
  for (std::size_t done = 0, n = 1; done < got.size() && n != 0; done += n)
    n = to.read(got.data() + done, static_cast<unsigned int>(got.size() - done));
  return got == text;
}

bool talks(connected_pair const& pair) {
  return pair.client && pair.server && carries(*pair.client, *pair.server, "ping") &&
         carries(*pair.server, *pair.client, "pong");
}

std::optional<unsigned long> read_failure(qmgl_socket& socket) {
  char byte = 0;
  try {
    socket.read(&byte, 1);
  } catch (unsigned long code) {
    return code;
  }
  return std::nullopt;
}

// The records of the kind, tracepoint and object (its word names a destroyed one too); 0: any.
records where(records const& all, std::uint32_t kind, std::uint32_t tp, std::uint64_t object) {
  return records_where(all, [=](captured_record const& r) {
    return (!kind || r.kind == kind) && (!tp || r.tracepoint == tp) &&
           (!object || r.object == object);
  });
}

std::string printed(char const* format, std::uint32_t value) {
  char text[48];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// From an object's first state note "... = 0x<hex>".
std::uint32_t handle_in(records const& all, std::uint64_t object) {
  std::string const note = where(all, state_note, 0, object).at(0).data;
  return static_cast<std::uint32_t>(std::stoul(note.substr(note.rfind("0x") + 2), nullptr, 16));
}

void expect_socket_error(raised const& r, std::uint32_t code) {
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

// Constructors write no construction record. A timed-out select throws the plain code; closed
// sockets fail with WSAENOTSOCK; a gone peer reads 0 bytes, a write to it raises (no signal);
// each failure writes its error text. A second close_socket closes nothing.
TEST_F(Socket, EachObjectWritesItsOperationsAndFailuresWithItsHandle) {
  trace_capture capture(0x8 | 0x800 | 0x1000 | 0x4000 | 0x40000);
  // 0 is the one other value the type's enumeration holds; it shows in the entry record alone.
  auto listener = std::make_unique<qmgl_socket_factory>(echo.c_str(),
                                                        static_cast<qmgl_socket_factory::type>(0));
  connected_pair pair(*listener, echo);
  ASSERT_TRUE(talks(pair));
  std::uint64_t const f = object_word(listener.get()), c = object_word(pair.client.get()),
                      s = object_word(pair.server.get());
  records const made = capture.take();
  std::uint32_t const fh = handle_in(made, f), ch = handle_in(made, c), sh = handle_in(made, s);
  EXPECT_EQ(
      where(made, 0, 0, c),
      (records{text_record(entered, socket_constructor, c, echo + ", 127.0.0.1"),
               text_record(state_note, socket_constructor, c, printed("socket handle = 0x%x", ch)),
               text_record(entered, service_lookup, c, "Service Name:" + echo),
               value_record(left, service_lookup, c, 0),
               text_record(entered, host_lookup, c, "Host Name:127.0.0.1"),
               value_record(left, host_lookup, c, 0),
               value_record(left, socket_constructor, c, 0)}));
  char factory_address[32];
  std::snprintf(factory_address, sizeof factory_address, "%p", static_cast<void*>(listener.get()));
  EXPECT_EQ(where(made, entered, factory_constructor, f).at(0).data, echo + ", 0");
  EXPECT_EQ(where(made, entered, socket_constructor, s).at(0).data, factory_address);
  EXPECT_EQ(where(made, 0x061E0000, 0, 0), records{});

  pair.client->doSelectWait(1);
  auto const start = std::chrono::steady_clock::now();
  std::optional<unsigned long> const code = read_failure(*pair.client);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(990));
  ASSERT_TRUE(code.has_value());
  EXPECT_TRUE(talks(pair)) << "the socket still works";
  pair.client->close_socket();
  pair.client->close_socket();
  EXPECT_EQ(read_failure(*pair.client), std::optional<unsigned long>(wsaenotsock));
  char data[] = "data";
  expect_socket_error(raise_of([&] { pair.client->write(data, 4); }), wsaenotsock);
  qmgl_socket fresh(echo.c_str(), "127.0.0.1");  // no read waits: the receive itself fails
  fresh.close_socket();
  EXPECT_EQ(read_failure(fresh), std::optional<unsigned long>(wsaenotsock));
  EXPECT_EQ(pair.server->read(data, 1), 0u);
  raised gone;
  for (int attempt = 0; attempt < 1000 && !gone.thrown; ++attempt)
    gone = raise_of([&] { pair.server->write(std::string(65536, 'x').data(), 65536); });
  EXPECT_EQ(gone.type, typeid(exc_unmapped_t));
  EXPECT_TRUE(gone.code == 10053 || gone.code == 10054 || gone.code == 10058) << gone.code;
  pair.client.reset();
  pair.server.reset();
  listener.reset();
  records const ended = capture.take();
  std::string const reason = system_text(wsaenotsock);  // Wine's message table has none
  std::string const socket = printed("ERROR Socket(0x%X) ", ch);
  EXPECT_EQ(where(ended, error_text, 0, c),
            (records{text_record(error_text, read_tp, c,
                                 socket + "Select selcRC=0(0x0)rc=" + std::to_string(*code) + "\n" +
                                     system_text(static_cast<std::uint32_t>(*code))),
                     text_record(error_text, read_tp, c,
                                 socket + "Select selcRC=-1(0xFFFFFFFF)rc=10038\n" + reason),
                     text_record(error_text, write_tp, c, socket + "write rc=10038\n" + reason)}));
  EXPECT_EQ(
      where(ended, error_text, 0, object_word(&fresh)),
      records{text_record(error_text, read_tp, &fresh, "ERROR Socket Recv rc=10038\n" + reason)});
  // Each handle is closed once, by the first close or the destructor.
  for (auto const& [o, tp, h] :
       {std::tuple{c, close_socket_tp, ch}, std::tuple{s, socket_destructor, sh},
        std::tuple{f, factory_destructor, fh}}) {
    EXPECT_EQ(where(ended, resource, 0, o),
              records{text_record(resource, tp, o, printed("close(_handle:0x%x) = rc == 0", h))});
    EXPECT_EQ(where(ended, 0x061F0000, 0, o).size(), 1u);
  }
}

// Hostless, a factory listens everywhere and a socket connects to this host. reconnect closes
// first and counts every attempt; a failed one leaves no handle to close twice.
TEST_F(Socket, ReconnectClosesFirstAndCountsEveryAttempt) {
  trace_capture capture(0x8 | 0x800 | 0x1000 | 0x4000);
  auto listener = std::make_unique<qmgl_socket_factory>(echo.c_str(), nullptr);
  connected_pair pair(*listener, echo, nullptr);
  ASSERT_TRUE(talks(pair));
  std::uint64_t const client = object_word(pair.client.get());
  EXPECT_EQ(where(capture.take(), 0x061E0000, 0, 0), records{});
  pair.server.reset();
  listener.reset();
  expect_socket_error(raise_of([&] { pair.client->reconnect(); }), wsaeconnrefused);
  EXPECT_EQ(pair.client->get_retry_count(), 1);
  pair.client->close_socket();
  records const failed = capture.take();
  EXPECT_EQ(where(failed, resource, 0, client).size(), 1u) << "the old handle alone";
  EXPECT_EQ(
      where(failed, error_text, 0, client),
      (records{text_record(error_text, reconnect_tp, client, "ERROR connect failure rc=10061\n")}));
  listener = std::make_unique<qmgl_socket_factory>(echo.c_str(), qmgl_socket_factory::tcp);
  for (int attempt = 2; attempt <= 3; ++attempt) {  // on a closed socket, then on an open one
    pair.server = accept_while(*listener, echo, [&] { pair.client->reconnect(); });
    ASSERT_TRUE(talks(pair));
    EXPECT_EQ(pair.client->get_retry_count(), attempt);
    records const again = where(capture.take(), 0, 0, client);
    EXPECT_EQ(again.at(1).tracepoint, close_socket_tp) << "a reconnect closes first";
    EXPECT_EQ(where(again, resource, 0, 0).size(), attempt == 2 ? 0u : 1u);
  }
}

// A failed constructor raises the socket error; bind and connect write an error text first.
TEST_F(Socket, FailedConstructionRaisesTheSocketError) {
  qmgl_socket_factory listener(echo.c_str(), qmgl_socket_factory::tcp);
  std::string const closed = services.add("closed");
  std::string const number = std::to_string(services.port(closed));  // a port is no name
  using factory = qmgl_socket_factory;
  // What to make, the error, Wine's (10013 for a port in use), the step writing an error text.
  std::tuple<std::function<void()>, std::uint32_t, std::uint32_t, char const*> const cases[] = {
      {[&] { qmgl_socket s(closed.c_str(), "127.0.0.1"); }, wsaeconnrefused, 0, "connect"},
      {[&] { qmgl_socket s(number.c_str(), "127.0.0.1"); }, wsano_data, 0, nullptr},
      {[&] { qmgl_socket s(echo.c_str(), "no-such-host.invalid"); }, 11001, 0, nullptr},
      {[&] { factory f(closed.c_str(), "192.0.2.1"); }, 10049, 0, "bind"},  // TEST-NET-1
      {[&] { factory f(echo.c_str(), factory::tcp); }, 10048, 10013, "bind"},
  };
  for (auto const& [make, code, wine_code, failure] : cases) {
    SCOPED_TRACE(code);
    trace_capture capture(0x8);
    raised const r = raise_of(make);
    expect_socket_error(r, wine_code != 0 && r.code == wine_code ? wine_code : code);
    records texts = capture.take();
    for (captured_record& t : texts)
      t.object = 0;  // the object was made on the stack
    std::uint32_t const tp = failure && *failure == 'c' ? socket_constructor : factory_constructor;
    std::string const what = failure ? std::string("ERROR ") + failure + " failure rc=" : "";
    EXPECT_EQ(texts, failure ? records{text_record(error_text, tp, nullptr,
                                                   what + std::to_string(r.code) + "\n")}
                             : records{});
  }
  EXPECT_TRUE(talks(connected_pair(listener, echo))) << "the listener is untouched";
}
