// The server side of calls, driven by raw clients that write the wire by hand.

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

struct RpcServer : ::testing::Test {
  rpc_endpoint endpoint;
};

// One request from a raw client, well-behaved or not, to a handler that writes its reply,
// reads the first value, drops the rest and may then fail. What leaves the handler's request,
// whether the client is then marked dead, what the client receives, the state notes and error
// texts of the server's requests; a client that is not dead is answered in step after that.
TEST_F(RpcServer, AnswersRawClientsAndMarksThemDeadWhenTheConnectionFails) {
  constexpr std::uint32_t tp_destructor = wytr::tp::rpc_server_request_destructor;
  char const* const marked = "set _server->_is_client_dead";
  note const replying{kind_state, tp_destructor, "!_server->_is_client_dead"};
  note const dead_reading{kind_state, wytr::tp::rpc_server_request_fill_buffer, marked};
  note const dead_sending{kind_state, wytr::tp::rpc_server_request_really_flush_buffer, marked};
  note const dead_replying{kind_state, tp_destructor, marked};
  note const dropped{kind_error, tp_destructor,
                     "ERROR: Failure dropped during unwinding: CLIENT DIED"};
  std::size_t const none = qmgl_rpc_no_message_limit;
  std::string const answered = "reply\0"s + text_of(qmgl_value(7)) + '\0';
  struct exchange {
    char const* name;
    std::size_t limit;
    std::string request;  // without its 0x00 when the client leaves mid request
    bool reply_fails, handler_fails;
    char const* left;
    bool dead;
    std::string received;
    std::vector<note> notes;
  } const exchanges[] = {
      {"rest dropped", none, "1 2 'three' (4, 5)\0"s, false, false, "nothing", false, answered,
       in_order(replying, replying, dead_reading)},
      {"garbage", none, "%%% and more garbage\0"s, false, false, "exc_invalid_token_t", false,
       answered, in_order(replying, replying, dead_reading)},
      {"client leaves mid request", none, "'unfinished", false, false, "int 0", true, "",
       in_order(dead_reading)},
      {"failed reply", none, "1\0"s, true, false, "exc_t", true, "",
       in_order(replying, dead_sending, dead_replying)},
      {"failed reply while the handler fails", none, "1\0"s, true, true, "handler failure", true,
       "", in_order(replying, dead_sending, dead_replying, dropped)},
      // A request may have as many bytes as the limit before its 0x00; one more is refused:
      // the handler sees the exception, its reply still goes out, and the connection ends.
      {"request at the incoming limit", 8, "'abcdef'\0"s, false, false, "nothing", false, answered,
       in_order(replying, replying, dead_reading)},
      {"request over the incoming limit", 8, "'abcdefg'\0"s, false, false,
       "exc_range_overflow_t 0x20030008 src/qmgl/qmgl_rpc: RPC message longer than the limit of "
       "8 bytes",
       true, "reply\0"s, in_order(dead_reading)},
  };
  for (exchange const& e : exchanges) {
    SCOPED_TRACE(e.name);
    raw_peer client(endpoint.service());
    trace_capture capture(wytr::level::state_note | wytr::level::error_text);
    std::string left;
    bool dead = false;
    auto served = serve_in_thread(endpoint.factory(), [&](qmgl_rpc_server& server) {
      EXPECT_EQ(server.incoming_message_limit(), none);
      server.set_incoming_message_limit(e.limit);
      left = what_leaves([&] {
        bounded_server_request request(server);
        request << "reply";
        qmgl_value first;
        request >> first;
        request.consume_request();
        EXPECT_TRUE(request.empty());
        request.consume_request();  // nothing more to drop: returns without reading
        if (e.reply_fails) request.socket().close_socket();
        if (e.handler_fails) throw std::runtime_error("handler failure");
      });
      dead = server.is_client_dead();
      echo_values(server);
    });
    bool const leaves = e.request.back() != '\0';
    client.send(e.request);
    if (leaves) client.close();
    std::string received = leaves ? "" : client.receive_message();
    if (!e.dead) client.send("7\0"s);
    if (!leaves) received += client.receive_message();  // the echo, or the connection's end
    client.close();
    ASSERT_TRUE(finished(served));
    EXPECT_EQ(left, e.left);
    EXPECT_EQ(dead, e.dead);
    EXPECT_EQ(received, e.received);
    EXPECT_EQ(notes_of_class(capture.take(), wytr::class_id::rpc_server_request), e.notes);
  }
}

// The type reaches the socket factory as 0 or 1; a null wide host becomes the empty name and
// goes through the host lookup (whether that finds an address is the system's affair), unlike
// a null narrow host, which means all local addresses.
TEST_F(RpcServer, FactoriesPassTheirTypeAndHostToTheSocketFactory) {
  std::string const service = endpoint.another_service();
  char const* const s = service.c_str();
  trace_capture capture(wytr::level::public_entry);
  for (int type : {0, 1, 7})
    qmgl_rpc_server_factory(s, static_cast<qmgl_rpc_server_factory::type>(type));
  try {
    qmgl_rpc_server_factory(s, static_cast<unsigned short const*>(nullptr));
  } catch (exc_t const&) {
  }
  qmgl_rpc_server_factory(s, static_cast<char const*>(nullptr));
  std::vector<std::string> texts;
  for (captured_record const& r : capture.take())
    if (r.kind == kind_entered && (r.tracepoint == wytr::tp::socket_factory_constructor ||
                                   r.tracepoint == wytr::tp::socket_host_lookup))
      texts.push_back(r.data);
  EXPECT_EQ(texts, (std::vector<std::string>{service + ", 0", service + ", 1", service + ", 1",
                                             service + ", ", "Host Name:", service + ", (null)"}));
}

}  // namespace
