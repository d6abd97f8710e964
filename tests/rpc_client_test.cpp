// The client side of calls: the wire a server sees, dead servers and the destructor's paths.

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <wygl/qmgl_rpc.h>
#include <wygl/wytr_ids.h>

#include "support/rpc_peers.h"
#include "support/value_helpers.h"

using namespace std::string_literals;

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
// after the request went out; a request that never went out reads nothing. The first exchange
// shows the records of a request's life.
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
    trace_capture capture(wytr::level::state_note | wytr::level::public_entry);
    std::uint64_t o = 0;
    try {
      bounded_client_request call(client);
      o = object_word(&call);
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
      std::string reply(e.end == read ? 20 : 0, '?');
      reply.resize(call.get_block(reply.data(), reply.size()));
      EXPECT_EQ(reply, e.end == read ? e.reply : "");
    } catch (std::runtime_error const&) {
      EXPECT_TRUE(e.end >= unwind_after_send && !client.is_server_dead());
    }
    if (&e != exchanges) continue;
    EXPECT_EQ(records_of_class(capture.take(), wytr::class_id::rpc_client_request),
              (std::vector<captured_record>{
                  text_record(kind_state, tp_life, o, "Creating Client Request"),
                  plain_record(kind_entered, tp_end, o), plain_record(kind_entered, tp_flush, o),
                  value_record(kind_left, tp_flush, o, 0), value_record(kind_left, tp_end, o, 0),
                  plain_record(kind_entered, tp_fill, o), value_record(kind_left, tp_fill, o, 0),
                  text_record(kind_state, tp_life, o, "Destroying Client Request")}));
  }
}

// A null wide host is the empty name, which means this host as for a narrow one.
TEST_F(RpcClient, ConstructorsWithAHostWriteTheirEntryRecord) {
  trace_capture capture(wytr::level::public_entry);
  std::string const service = endpoint.service();
  qmgl_rpc_client service_only(service.c_str());  // writes nothing of its own
  auto check = [&](auto host, std::string const& shown) {
    qmgl_rpc_client const c(service.c_str(), host);
    std::uint32_t const tp = wytr::tp::rpc_client_constructor;
    EXPECT_EQ(records_of_class(capture.take(), wytr::class_id::rpc_client),
              (std::vector<captured_record>{
                  text_record(kind_entered, tp, &c, "Service:" + service + " Host:" + shown),
                  value_record(kind_left, tp, &c, 0)}));
  };
  check("127.0.0.1", "127.0.0.1");
  check(wide(u"127.0.0.1"), "127.0.0.1");
  check(static_cast<char const*>(nullptr), "");
  check(static_cast<unsigned short const*>(nullptr), "");
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
  enum then { block_read, leave_to_destructor, unwind, send_fails };
  struct exchange {
    char const* name;
    std::size_t limit;
    int seconds;
    std::string reply;
    bool server_closes;
    then next;
    char const* left;  // "nothing" when the server stays alive
    char const* stored;
    std::vector<note> notes;
  } const exchanges[] = {
      {"cut reply", none, wait_seconds, "half a rep", true, block_read, "int 0", "half a rep",
       in_order(creating, died, destroying)},
      {"no reply", none, 1, "", false, block_read, "unsigned long", "",
       in_order(creating, died, destroying)},
      {"cut reply left to the destructor", none, wait_seconds, "ha", true, leave_to_destructor,
       "int 0", "", in_order(creating, died, destroying)},
      {"cut reply left while unwinding", none, wait_seconds, "ha", true, unwind, "host failure", "",
       in_order(creating, died, destroying, dropped)},
      {"failed send", none, wait_seconds, "", false, send_fails, "exc_t", "",
       in_order(creating, marked, not_sent, destroying)},
      {"reply at the incoming limit", 4, wait_seconds, "four\0"s, false, block_read, "nothing",
       "four", in_order(creating, destroying)},
      {"reply over the incoming limit", 4, wait_seconds, "fives\0"s, false, block_read,
       "exc_range_overflow_t 0x20030008 src/qmgl/qmgl_rpc: RPC message longer than the limit of "
       "4 bytes",
       "", in_order(creating, died, destroying)},
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
                if (e.next == send_fails) call.socket().close_socket();  // it cannot go out
                call.end_of_request();
                EXPECT_EQ(c.server.receive_message(), "ping\0"s);
                c.server.send(e.reply);
                if (e.server_closes) c.server.close();
                if (e.next == unwind) throw std::runtime_error("host failure");
                if (e.next == block_read) call.get_block(into, sizeof into);
              }),
              e.left);
    EXPECT_STREQ(into, e.stored);
    bool const dead = e.left != std::string("nothing");
    EXPECT_EQ(c.client.is_server_dead(), dead);
    EXPECT_EQ(notes_of_class(capture.take(), wytr::class_id::rpc_client_request), e.notes);
    EXPECT_TRUE(e.limit == none || !dead || c.server.receive_message().empty()) << "closed";
    auto taken = std::async(std::launch::async,
                            [&c] { qmgl_rpc_client_request(c.client).quit_without_wait(); });
    EXPECT_TRUE(finished(taken)) << "the lock is free for a request that reads nothing";
  }
}

}  // namespace
