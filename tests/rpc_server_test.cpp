// The server side of calls, driven by raw clients that write the wire by hand.

#include <memory>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include <gtest/gtest.h>

#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_rpc.h>
#include <wygl/qmgl_value_reader.h>
#include <wygl/wytr_ids.h>

#include "support/raised.h"
#include "support/rpc_peers.h"
#include "support/value_helpers.h"

namespace {

// A raw client connected to an endpoint (before the server thread accepts it).
class RpcServer : public ::testing::Test {
 protected:
  rpc_endpoint endpoint;
  raw_peer client{endpoint.service()};
};

// Every value of a request up to its end.
std::vector<qmgl_value> read_values(qmgl_rpc_server_request& request) {
  std::vector<qmgl_value> values;
  qmgl_value v;
  for (request >> v; !v._body->is_eol(); request >> v)
    values.push_back(v);
  return values;
}

TEST_F(RpcServer, AnswersHandWrittenRequests) {
  auto served = serve_in_thread(endpoint.factory(), [](qmgl_rpc_server& server) {
    {
      bounded_server_request request(server);
      std::vector<qmgl_value> const got = read_values(request);
      ASSERT_EQ(got.size(), 2u);
      EXPECT_STREQ(got[0].as_charp(), "get");
      EXPECT_EQ(got[1].as_int(), 5);
      qmgl_value("ok").stream_out(request);
      qmgl_value(42).stream_out(request);
    }
    { bounded_server_request empty_reply(server); }  // reads nothing, answers one 0x00
  });
  client.send(std::string("'get' 5\0", 8));
  EXPECT_EQ(client.receive_message(), text_of(qmgl_value("ok")) + text_of(qmgl_value(42)) + '\0');
  EXPECT_EQ(client.receive_message(), std::string(1, '\0'));
  EXPECT_TRUE(finished(served));
}

TEST_F(RpcServer, ConsumeRequestDropsTheRestUpToTheTerminator) {
  auto served = serve_in_thread(endpoint.factory(), [](qmgl_rpc_server& server) {
    {
      bounded_server_request request(server);
      qmgl_value first;
      request >> first;
      EXPECT_EQ(first.as_int(), 1);
      request.consume_request();
      EXPECT_TRUE(request.empty());
      request.consume_request();  // nothing more to drop: returns without reading
    }
    bounded_server_request next(server);
    std::vector<qmgl_value> const got = read_values(next);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].as_int(), 9);
  });
  client.send(std::string("1 2 'three' (4, 5)\0", 19));
  EXPECT_EQ(client.receive_message(), std::string(1, '\0'));
  client.send(std::string("9\0", 2));
  EXPECT_EQ(client.receive_message(), std::string(1, '\0'));
  EXPECT_TRUE(finished(served));
}

TEST_F(RpcServer, ReplyIsTracedAndSentByTheDestructor) {
  trace_capture capture(wytr::level::state_note | wytr::level::public_entry);
  std::uint64_t object = 0;
  auto served = serve_in_thread(endpoint.factory(), [&object](qmgl_rpc_server& server) {
    bounded_server_request request(server);
    object = object_word(&request);
    request.consume_request();
    request << "pong";
  });
  client.send(std::string("ping\0", 5));
  EXPECT_EQ(client.receive_message(), std::string("pong\0", 5));
  ASSERT_TRUE(finished(served));
  std::uint64_t const o = object;
  std::uint32_t const tp_consume = wytr::tp::rpc_server_request_consume_request;
  std::uint32_t const tp_fill = wytr::tp::rpc_server_request_fill_buffer;
  std::uint32_t const tp_destructor = wytr::tp::rpc_server_request_destructor;
  std::uint32_t const tp_flush = wytr::tp::rpc_server_request_really_flush_buffer;
  EXPECT_EQ(records_of_class(capture.take(), wytr::class_id::rpc_server_request),
            (std::vector<captured_record>{
                plain_record(kind_entered, tp_consume, o), plain_record(kind_entered, tp_fill, o),
                value_record(kind_left, tp_fill, o, 0), value_record(kind_left, tp_consume, o, 0),
                plain_record(kind_entered, tp_destructor, o),
                text_record(kind_state, tp_destructor, o, "!_server->_is_client_dead"),
                plain_record(kind_entered, tp_flush, o), value_record(kind_left, tp_flush, o, 0),
                value_record(kind_left, tp_destructor, o, 0)}));
}

TEST_F(RpcServer, ClientLeavingBetweenRequestsEndsTheConnectionWithoutAReply) {
  trace_capture capture(wytr::level::state_note);
  std::uint64_t object = 0;
  bool dead_after = false;
  auto served = serve_in_thread(endpoint.factory(), [&](qmgl_rpc_server& server) {
    echo_one_request(server);
    EXPECT_EQ(thrown_int([&] {
                bounded_server_request request(server);
                object = object_word(&request);
                qmgl_value v;
                request >> v;
              }),
              0);
    dead_after = server.is_client_dead();
  });
  client.send(std::string("7\0", 2));
  EXPECT_EQ(client.receive_message(), text_of(qmgl_value(7)) + '\0');
  client.close();
  ASSERT_TRUE(finished(served));
  EXPECT_TRUE(dead_after);
  std::uint64_t const o = object;
  std::vector<captured_record> mine =
      records_of_class(capture.take(), wytr::class_id::rpc_server_request);
  // The first request's reply, then the dead client: no reply is attempted.
  ASSERT_EQ(mine.size(), 2u);
  EXPECT_EQ(mine[1], text_record(kind_state, wytr::tp::rpc_server_request_fill_buffer, o,
                                 "set _server->_is_client_dead"));
}

TEST_F(RpcServer, ClientLeavingMidRequestMarksItDeadAndNothingIsSent) {
  bool dead_after = false;
  auto served = serve_in_thread(endpoint.factory(), [&](qmgl_rpc_server& server) {
    EXPECT_EQ(thrown_int([&] {
                bounded_server_request request(server);
                qmgl_value v;
                request >> v;
              }),
              0);
    dead_after = server.is_client_dead();
    { bounded_server_request after(server); }  // the dead client gets nothing
  });
  client.send("'unfinished");
  client.socket().close_socket();
  ASSERT_TRUE(finished(served));
  EXPECT_TRUE(dead_after);
}

TEST_F(RpcServer, GarbageReachesTheHandlerAndTheConnectionStaysInStep) {
  trace_capture capture(wytr::level::error_text);
  auto served = serve_in_thread(endpoint.factory(), [](qmgl_rpc_server& server) {
    raised const r = raise_of([&server] {
      bounded_server_request request(server);
      request << "partial";
      read_values(request);
    });
    EXPECT_EQ(r.type, typeid(exc_invalid_token_t));
    EXPECT_FALSE(server.is_client_dead());
    echo_one_request(server);
  });
  client.send(std::string("%%% and more garbage\0", 21));
  // The failed request still gets the reply written before the failure.
  EXPECT_EQ(client.receive_message(), std::string("partial\0", 8));
  client.send(std::string("'fine'\0", 7));
  EXPECT_EQ(client.receive_message(), text_of(qmgl_value("fine")) + '\0');
  ASSERT_TRUE(finished(served));
  EXPECT_TRUE(records_of_class(capture.take(), wytr::class_id::rpc_server_request).empty());
}

TEST_F(RpcServer, ServesTheNextConnectionAfterOneFailed) {
  raw_peer& bad = client;
  raw_peer good(endpoint.service());
  auto served = std::async(std::launch::async, [this] {
    int failed = 0;
    for (int i = 0; i < 2; ++i) {
      qmgl_rpc_server connection(endpoint.factory());
      try {
        echo_values(connection);
      } catch (exc_invalid_token_t const&) {
        ++failed;
      }
    }
    return failed;
  });
  bad.send(std::string("}\0", 2));
  EXPECT_EQ(bad.receive_message(), std::string(1, '\0'));
  bad.close();
  good.send(std::string("'x' 3\0", 6));
  EXPECT_EQ(good.receive_message(), text_of(qmgl_value("x")) + text_of(qmgl_value(3)) + '\0');
  good.close();
  ASSERT_EQ(served.wait_for(wait_limit), std::future_status::ready);
  EXPECT_EQ(served.get(), 1);
}

TEST_F(RpcServer, FailedReplyLeavesTheDestructorAndMarksTheClientDead) {
  trace_capture capture(wytr::level::state_note);
  bool dead_after = false;
  bool thrown = false;
  auto served = serve_in_thread(endpoint.factory(), [&](qmgl_rpc_server& server) {
    try {
      bounded_server_request request(server);
      request.consume_request();
      request << "reply";
      request.socket().close_socket();  // the reply cannot go out
    } catch (exc_t const&) {
      thrown = true;
    }
    dead_after = server.is_client_dead();
  });
  client.send(std::string("q\0", 2));
  ASSERT_TRUE(finished(served));
  EXPECT_TRUE(thrown);
  EXPECT_TRUE(dead_after);
  std::vector<captured_record> const mine =
      records_of_class(capture.take(), wytr::class_id::rpc_server_request);
  ASSERT_EQ(mine.size(), 3u);
  EXPECT_EQ(mine[0].data, "!_server->_is_client_dead");
  EXPECT_EQ(mine[1], text_record(kind_state, wytr::tp::rpc_server_request_really_flush_buffer,
                                 mine[0].object, "set _server->_is_client_dead"));
  EXPECT_EQ(mine[2], text_record(kind_state, wytr::tp::rpc_server_request_destructor,
                                 mine[0].object, "set _server->_is_client_dead"));
}

TEST_F(RpcServer, DuringUnwindingAFailedReplyIsDroppedAndTheClientMarkedDead) {
  trace_capture capture(wytr::level::error_text);
  std::uint64_t object = 0;
  std::string caught;
  bool dead_after = false;
  auto served = serve_in_thread(endpoint.factory(), [&](qmgl_rpc_server& server) {
    try {
      bounded_server_request request(server);
      object = object_word(&request);
      read_values(request);
      request << "reply";
      request.socket().close_socket();  // the reply cannot go out
      throw std::runtime_error("handler failure");
    } catch (std::runtime_error const& e) {
      caught = e.what();  // the handler's own exception, not the failed send
    }
    dead_after = server.is_client_dead();
  });
  client.send(std::string("1\0", 2));
  ASSERT_TRUE(finished(served));
  EXPECT_EQ(caught, "handler failure");
  EXPECT_TRUE(dead_after);
  std::vector<captured_record> const mine =
      records_of_class(capture.take(), wytr::class_id::rpc_server_request);
  ASSERT_FALSE(mine.empty());
  EXPECT_EQ(mine.back(), text_record(kind_error, wytr::tp::rpc_server_request_destructor, object,
                                     "ERROR: Failure dropped during unwinding: CLIENT DIED"));
}

TEST_F(RpcServer, FactoryTypeReachesTheSocketFactoryAsZeroOrOne) {
  std::vector<std::string> texts;
  for (int type : {0, 1, 7}) {
    std::string const service = endpoint.another_service();
    trace_capture capture(wytr::level::public_entry);
    qmgl_rpc_server_factory factory(service.c_str(),
                                    static_cast<qmgl_rpc_server_factory::type>(type));
    for (captured_record const& r : capture.take())
      if (r.tracepoint == wytr::tp::socket_factory_constructor && r.kind == kind_entered)
        texts.push_back(r.data.substr(r.data.rfind(", ")));
  }
  EXPECT_EQ(texts, (std::vector<std::string>{", 0", ", 1", ", 1"}));
}

TEST_F(RpcServer, FactoryWithAWideHostListensOnThatAddress) {
  std::string const service = endpoint.another_service();
  qmgl_rpc_server_factory factory(service.c_str(), wide(u"127.0.0.1"));
  auto caller = std::make_unique<qmgl_rpc_client>(service.c_str(), wide(u"127.0.0.1"));
  auto served = serve_in_thread(factory, [](qmgl_rpc_server& s) { echo_values(s); });
  {
    bounded_client_request call(*caller);
    qmgl_value(11).stream_out(call);
    call.end_of_request();
    qmgl_value v;
    call >> v;
    EXPECT_EQ(v.as_int(), 11);
  }
  caller.reset();
  EXPECT_TRUE(finished(served));
}

// Unlike a null narrow host, which means all local addresses, a null wide host becomes the
// empty name and goes through the host lookup; whether that finds an address is the system's
// affair, so only the lookup itself is asserted.
TEST_F(RpcServer, FactoryWithANullWideHostLooksUpTheEmptyName) {
  trace_capture capture(wytr::level::public_entry);
  std::string const service = endpoint.another_service();
  try {
    qmgl_rpc_server_factory factory(service.c_str(), static_cast<unsigned short const*>(nullptr));
  } catch (exc_t const&) {
  }
  { qmgl_rpc_server_factory all_addresses(service.c_str(), static_cast<char const*>(nullptr)); }
  std::vector<std::string> lookups;
  for (captured_record const& r : capture.take())
    if (r.tracepoint == wytr::tp::socket_host_lookup && r.kind == kind_entered)
      lookups.push_back(r.data);
  EXPECT_EQ(lookups, std::vector<std::string>{"Host Name:"});
}

}  // namespace

// A request may have as many bytes as the limit before its 0x00; one more is refused: the
// handler sees the exception, its reply still goes out, and the connection ends.
TEST_F(RpcServer, RequestOverTheIncomingLimitIsRefusedAnsweredAndTheConnectionClosed) {
  raw_peer second(endpoint.service());
  raised refused;
  bool dead_after = false;
  auto served = std::async(std::launch::async, [&] {
    qmgl_rpc_server connection(endpoint.factory());
    EXPECT_EQ(connection.incoming_message_limit(), qmgl_rpc_no_message_limit);
    connection.set_incoming_message_limit(8);
    echo_one_request(connection);  // exactly 8 bytes: taken
    qmgl_rpc_server big(endpoint.factory());
    big.set_incoming_message_limit(8);
    {
      bounded_server_request request(big);
      refused = raise_of([&] { read_values(request); });
      EXPECT_TRUE(request.empty());
      request.consume_request();  // reads nothing more
      request << "too long";
    }
    dead_after = big.is_client_dead();
  });
  client.send(std::string("'abcdef'\0", 9));
  EXPECT_EQ(client.receive_message(), text_of(qmgl_value("abcdef")) + '\0');
  second.send(std::string("'abcdefg'\0", 10));
  EXPECT_EQ(second.receive_message(), std::string("too long\0", 9));
  EXPECT_EQ(second.receive_message(), "");  // then the connection's end
  ASSERT_TRUE(finished(served));
  EXPECT_EQ(refused.type, typeid(exc_range_overflow_t));
  EXPECT_EQ(refused.code, 0x20030008u);
  EXPECT_EQ(refused.message, "RPC message longer than the limit of 8 bytes");
  EXPECT_STREQ(refused.file, "src/qmgl/qmgl_rpc");
  EXPECT_TRUE(dead_after);
}
