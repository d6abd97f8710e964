// The client side of calls: the wire a server sees, dead servers and the destructor's paths.

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <wygl/qmgl_rpc.h>
#include <wygl/wytr_ids.h>

#include "support/rpc_peers.h"
#include "support/value_helpers.h"

namespace {

// A client connected to a raw server end.
struct connected {
  rpc_endpoint endpoint;
  qmgl_rpc_client client{endpoint.service(), "127.0.0.1"};
  raw_peer server{endpoint.factory()};
};
struct RpcClient : ::testing::Test, connected {};

constexpr std::uint32_t tp_life = wytr::tp::rpc_client_request_lifetime;
constexpr std::uint32_t tp_end = wytr::tp::rpc_client_request_end_of_request;
constexpr std::uint32_t tp_flush = wytr::tp::rpc_client_request_really_flush_buffer;
constexpr std::uint32_t tp_fill = wytr::tp::rpc_client_request_fill_buffer;

// Each request reuses the buffers its predecessor left, and nothing of that one may show. A
// reply left unread is read to its end by the destructor, also while a host exception unwinds
// after the request went out; a request that never went out reads nothing.
TEST_F(RpcClient, ExchangesAreTheirBytesAndOneZero) {
  enum ending { read, leave, unwind_after_send, unwind_before_send };
  struct exchange {
    std::string request, reply;
    ending end;
  } const exchanges[] = {{"ping", "pong", read},
                         {"", "", read},
                         {std::string(200000, 'q'), std::string(20000, 'r'), leave},
                         {"sent", "dropped", unwind_after_send},
                         {"never sent", "", unwind_before_send},
                         {"ab", "ok", read},
                         {std::string(200000, 'q'), "", read}};
  for (exchange const& e : exchanges) {
    SCOPED_TRACE(e.request.size());
    try {
      bounded_client_request call(client);
      call.put_block(e.request.data(), e.request.size());
      EXPECT_EQ(call.get_last_output_buffer(), nullptr);
      if (e.end == unwind_before_send) throw std::runtime_error("before sending");
      auto received = std::async(std::launch::async, [this] { return server.receive_message(); });
      call.end_of_request();
      ASSERT_EQ(received.wait_for(wait_limit), std::future_status::ready);
      EXPECT_TRUE(received.get() == e.request + '\0');
      EXPECT_EQ(call.get_last_output_buffer_length(), static_cast<int>(e.request.size() + 1));
      server.send(e.reply + '\0');
      if (e.end == unwind_after_send) throw std::runtime_error("after sending");
      if (e.end == read) {
        EXPECT_TRUE(read_message(call) == e.reply + '\0');
      }
    } catch (std::runtime_error const&) {
      EXPECT_GE(e.end, unwind_after_send);
    }
  }
  EXPECT_FALSE(client.is_server_dead());
}

TEST_F(RpcClient, TracesItsLifeAndTheEndOfTheRequest) {
  trace_capture capture(wytr::level::state_note | wytr::level::public_entry);
  std::uint64_t o = 0;
  {
    bounded_client_request call(client);
    o = object_word(&call);
    call.end_of_request();
    server.send(std::string(1, '\0'));
  }
  EXPECT_EQ(records_of_class(capture.take(), wytr::class_id::rpc_client_request),
            (std::vector<captured_record>{
                text_record(kind_state, tp_life, o, "Creating Client Request"),
                plain_record(kind_entered, tp_end, o), plain_record(kind_entered, tp_flush, o),
                value_record(kind_left, tp_flush, o, 0), value_record(kind_left, tp_end, o, 0),
                plain_record(kind_entered, tp_fill, o), value_record(kind_left, tp_fill, o, 0),
                text_record(kind_state, tp_life, o, "Destroying Client Request")}));
}

TEST_F(RpcClient, ConstructorsWithAHostWriteTheirEntryRecord) {
  trace_capture capture(wytr::level::public_entry);
  std::string const service = endpoint.service();
  std::vector<captured_record> expected;
  auto entered = [&](qmgl_rpc_client const& c, std::string const& host) {
    std::uint32_t const tp = wytr::tp::rpc_client_constructor;
    expected.push_back(text_record(kind_entered, tp, &c, "Service:" + service + " Host:" + host));
    expected.push_back(value_record(kind_left, tp, &c, 0));
  };
  qmgl_rpc_client narrow(service.c_str(), "127.0.0.1");
  entered(narrow, "127.0.0.1");
  qmgl_rpc_client wide_host(service.c_str(), wide(u"127.0.0.1"));
  entered(wide_host, "127.0.0.1");
  qmgl_rpc_client null_host(service.c_str(), static_cast<char const*>(nullptr));
  entered(null_host, "");
  // A null wide host is the empty name, which means this host as for a narrow one.
  qmgl_rpc_client null_wide_host(service.c_str(), static_cast<unsigned short const*>(nullptr));
  entered(null_wide_host, "");
  qmgl_rpc_client service_only(service.c_str());  // writes nothing of its own
  EXPECT_EQ(records_of_class(capture.take(), wytr::class_id::rpc_client), expected);
}

struct note {
  std::uint32_t kind, tracepoint;
  char const* text;
};
template <class... Notes>
std::vector<note> in_order(Notes... notes) {
  return {notes...};
}

// A reply that breaks off, never comes, cannot be sent for or is too long: what leaves the
// call, whether the server is marked dead, the request's records, and the client's lock,
// which is free again in every case.
TEST_F(RpcClient, FailedExchangesMarkTheServerDeadAndReleaseTheLock) {
  note const creating{kind_state, tp_life, "Creating Client Request"};
  note const destroying{kind_state, tp_life, "Destroying Client Request"};
  note const died{kind_error, tp_fill, "ERROR: Catch in Catch Exception: SERVER DIED"};
  note const dropped{kind_error, tp_life, "ERROR: Failure dropped during unwinding: SERVER DIED"};
  note const marked{kind_state, tp_flush, "set _client->_is_server_dead"};
  note const not_sent{kind_error, tp_end, "ERROR: Exception throw: SERVER DIED"};
  std::size_t const none = qmgl_rpc_no_message_limit;
  enum then { block_read, leave_to_destructor, unwind };
  struct exchange {
    char const* name;
    std::size_t limit;
    int seconds;
    bool send_fails;
    std::string reply;
    bool server_closes;
    then next;
    char const* left;
    char const* stored;
    bool dead;
    std::vector<note> notes;
  } const exchanges[] = {
      {"cut reply", none, wait_seconds, false, "half a rep", true, block_read, "int 0",
       "half a rep", true, in_order(creating, died, destroying)},
      {"no reply", none, 1, false, "", false, block_read, "unsigned long", "", true,
       in_order(creating, died, destroying)},
      {"cut reply left to the destructor", none, wait_seconds, false, "ha", true,
       leave_to_destructor, "int 0", "", true, in_order(creating, died, destroying)},
      {"cut reply left while unwinding", none, wait_seconds, false, "ha", true, unwind,
       "host failure", "", true, in_order(creating, died, destroying, dropped)},
      {"failed send", none, wait_seconds, true, "", false, block_read, "exc_t", "", true,
       in_order(creating, marked, not_sent, destroying)},
      {"reply at the incoming limit", 4, wait_seconds, false, std::string("four\0", 5), false,
       block_read, "nothing", "four", false, in_order(creating, destroying)},
      {"reply over the incoming limit", 4, wait_seconds, false, std::string("fives\0", 6), false,
       block_read,
       "exc_range_overflow_t 0x20030008 src/qmgl/qmgl_rpc: RPC message longer than the limit of "
       "4 bytes",
       "", true, in_order(creating, died, destroying)},
  };
  for (exchange const& e : exchanges) {
    SCOPED_TRACE(e.name);
    connected c;
    c.client.set_incoming_message_limit(e.limit);
    trace_capture capture(wytr::level::error_text | wytr::level::state_note);
    char into[64] = {};
    EXPECT_EQ(what_leaves([&] {
                bounded_client_request call(c.client, e.seconds);
                call.put_block("ping", 4);
                if (e.send_fails) call.socket().close_socket();  // the request cannot go out
                call.end_of_request();
                EXPECT_EQ(c.server.receive_message(), std::string("ping\0", 5));
                c.server.send(e.reply);
                if (e.server_closes) c.server.close();
                if (e.next == unwind) throw std::runtime_error("host failure");
                if (e.next == block_read) call.get_block(into, sizeof into);
              }),
              e.left);
    EXPECT_STREQ(into, e.stored);
    EXPECT_EQ(c.client.is_server_dead(), e.dead);
    std::vector<captured_record> const mine =
        records_of_class(capture.take(), wytr::class_id::rpc_client_request);
    std::vector<captured_record> expected;
    for (note const& n : e.notes)
      expected.push_back(
          text_record(n.kind, n.tracepoint, mine.empty() ? 0 : mine[0].object, n.text));
    EXPECT_EQ(mine, expected);
    if (e.limit != none && e.dead) {
      EXPECT_EQ(c.server.receive_message(), "");  // the client closed the connection
    }
    auto taken = std::async(std::launch::async, [&c] {
      qmgl_rpc_client_request next(c.client);
      next.quit_without_wait();  // reads nothing on the way out
    });
    EXPECT_TRUE(finished(taken)) << "the lock is free";
  }
}

TEST_F(RpcClient, ReconnectResendAndRegetCompleteACallAfterTheServerRestarted) {
  bounded_client_request call(client);
  call << "'question' ";
  call.end_of_request();
  EXPECT_EQ(server.receive_message(), std::string("'question' \0", 12));
  server.close();  // the server dies before it answers
  endpoint.restart();
  EXPECT_EQ(what_leaves([&] { call.get_char(); }), "int 0");
  EXPECT_TRUE(client.is_server_dead());

  call.socket().reconnect();
  call.socket().doSelectWait(wait_seconds);
  raw_peer second(endpoint.factory());
  call.resend();
  EXPECT_EQ(second.receive_message(), std::string("'question' \0", 12));
  second.send(std::string("'answer' \0", 10));
  call.reget();
  qmgl_value v, end;
  call >> v >> end;
  EXPECT_STREQ(v.as_charp(), "answer");
  EXPECT_TRUE(end._body->is_eol());
}

}  // namespace
