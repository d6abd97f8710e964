// The client side of calls: the wire a server sees, the lock that serialises a client's
// threads, dead servers and the destructor's paths.

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include <gtest/gtest.h>

#include <wygl/qmgl_iconv.h>
#include <wygl/qmgl_rpc.h>
#include <wygl/qmgl_value_array.h>
#include <wygl/qmgl_value_reader.h>
#include <wygl/wytr_ids.h>

#include "support/raised.h"
#include "support/rpc_peers.h"
#include "support/value_helpers.h"

namespace {

// A client connected to a raw server end.
class RpcClient : public ::testing::Test {
 protected:
  rpc_endpoint endpoint;
  qmgl_rpc_client client{endpoint.service(), "127.0.0.1"};
  raw_peer server{endpoint.factory()};
};

std::string reply_text(qmgl_rpc_client_request& call) {
  std::string text;
  while (!call.empty())
    text += call.get_char();
  return text;
}

// Whether a new request on client gets the lock within the limit (the lock is free).
bool lock_is_free(qmgl_rpc_client& client) {
  auto taken = std::async(std::launch::async, [&client] {
    qmgl_rpc_client_request next(client);
    next.quit_without_wait();  // reads nothing on the way out
  });
  return finished(taken);
}

TEST_F(RpcClient, RequestAndReplyAreTheirBytesAndOneZero) {
  {
    bounded_client_request call(client);
    call << "ping";
    call.end_of_request();
    EXPECT_EQ(server.receive_message(), std::string("\x70\x69\x6E\x67\x00", 5));
    server.send(std::string("pong\0", 5));
    EXPECT_EQ(reply_text(call), std::string("pong\0", 5));
  }
  {
    bounded_client_request call(client);
    call.end_of_request();
    EXPECT_EQ(server.receive_message(), std::string(1, '\0'));
    server.send(std::string(1, '\0'));
    EXPECT_EQ(reply_text(call), std::string(1, '\0'));
  }
  EXPECT_FALSE(client.is_server_dead());
}

TEST_F(RpcClient, RequestsAfterALongOneSendExactlyTheirOwnBytes) {
  // Each request reuses the buffers its predecessor left; nothing of that one may show.
  std::string const long_body(200000, 'q');
  for (std::string const& body : {long_body, std::string("ab"), std::string(), long_body}) {
    bounded_client_request call(client);
    call.put_block(body.data(), body.size());
    EXPECT_EQ(call.get_last_output_buffer(), nullptr);
    auto received = std::async(std::launch::async, [this] { return server.receive_message(); });
    call.end_of_request();
    ASSERT_EQ(received.wait_for(wait_limit), std::future_status::ready);
    EXPECT_TRUE(received.get() == body + '\0') << body.size();
    EXPECT_EQ(call.get_last_output_buffer_length(), static_cast<int>(body.size() + 1));
    server.send(std::string(1, '\0'));
  }
}

TEST_F(RpcClient, TracesItsLifeAndTheEndOfTheRequest) {
  trace_capture capture(wytr::level::state_note | wytr::level::public_entry);
  std::uint64_t object = 0;
  {
    bounded_client_request call(client);
    object = object_word(&call);
    call.end_of_request();
    server.send(std::string("\0", 1));
  }
  std::uint32_t const tp_life = wytr::tp::rpc_client_request_lifetime;
  std::uint32_t const tp_end = wytr::tp::rpc_client_request_end_of_request;
  std::uint32_t const tp_flush = wytr::tp::rpc_client_request_really_flush_buffer;
  std::uint32_t const tp_fill = wytr::tp::rpc_client_request_fill_buffer;
  std::uint64_t const o = object;
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
  std::uint32_t const tp = wytr::tp::rpc_client_constructor;
  std::vector<captured_record> expected;
  {
    qmgl_rpc_client narrow(endpoint.service(), "127.0.0.1");
    expected.push_back(
        text_record(kind_entered, tp, &narrow,
                    std::string("Service:") + endpoint.service() + " Host:127.0.0.1"));
    expected.push_back(value_record(kind_left, tp, &narrow, 0));
    qmgl_rpc_client wide_host(endpoint.service(), wide(u"127.0.0.1"));
    expected.push_back(
        text_record(kind_entered, tp, &wide_host,
                    std::string("Service:") + endpoint.service() + " Host:127.0.0.1"));
    expected.push_back(value_record(kind_left, tp, &wide_host, 0));
    qmgl_rpc_client null_host(endpoint.service(), static_cast<char const*>(nullptr));
    expected.push_back(text_record(kind_entered, tp, &null_host,
                                   std::string("Service:") + endpoint.service() + " Host:"));
    expected.push_back(value_record(kind_left, tp, &null_host, 0));
    // A null wide host is the empty name, which means this host as for a narrow one.
    qmgl_rpc_client null_wide_host(endpoint.service(), static_cast<unsigned short const*>(nullptr));
    expected.push_back(text_record(kind_entered, tp, &null_wide_host,
                                   std::string("Service:") + endpoint.service() + " Host:"));
    expected.push_back(value_record(kind_left, tp, &null_wide_host, 0));
    qmgl_rpc_client service_only(endpoint.service());  // writes nothing of its own
  }
  EXPECT_EQ(records_of_class(capture.take(), wytr::class_id::rpc_client), expected);
}

TEST_F(RpcClient, DestroyedWithoutReadingStillReadsTheReplyToItsEnd) {
  std::string const long_reply = std::string(20000, 'r') + '\0';
  {
    bounded_client_request call(client);
    call << "first";
    call.end_of_request();
    EXPECT_EQ(server.receive_message(), std::string("first\0", 6));
    server.send(long_reply);
  }
  bounded_client_request next(client);
  next << "second";
  next.end_of_request();
  EXPECT_EQ(server.receive_message(), std::string("second\0", 7));
  server.send(std::string("ok\0", 3));
  EXPECT_EQ(reply_text(next), std::string("ok\0", 3));
}

TEST_F(RpcClient, QuitWithoutWaitReadsNothingAndLeavesTheServerDead) {
  {
    bounded_client_request call(client);
    call << "no reply";
    call.end_of_request();
    call.quit_without_wait();
  }  // the server never answers: this returns at once
  EXPECT_TRUE(client.is_server_dead());
  EXPECT_TRUE(lock_is_free(client));
}

TEST_F(RpcClient, ServerClosingMidReplyThrowsIntZeroAndMarksTheServerDead) {
  trace_capture capture(wytr::level::error_text | wytr::level::state_note);
  std::uint64_t object = 0;
  {
    bounded_client_request call(client);
    object = object_word(&call);
    call.end_of_request();
    server.receive_message();
    server.send("'half a rep");
    server.close();
    qmgl_value v;
    EXPECT_EQ(thrown_int([&] { call >> v; }), 0);
    EXPECT_TRUE(client.is_server_dead());
  }  // reads nothing more
  std::uint64_t const o = object;
  std::uint32_t const tp_life = wytr::tp::rpc_client_request_lifetime;
  EXPECT_EQ(records_of_class(capture.take(), wytr::class_id::rpc_client_request),
            (std::vector<captured_record>{
                text_record(kind_state, tp_life, o, "Creating Client Request"),
                text_record(kind_error, wytr::tp::rpc_client_request_fill_buffer, o,
                            "ERROR: Catch in Catch Exception: SERVER DIED"),
                text_record(kind_state, tp_life, o, "Destroying Client Request")}));
  EXPECT_TRUE(lock_is_free(client));
}

TEST_F(RpcClient, BlockReadOfACutReplyMarksTheServerDeadToo) {
  {
    bounded_client_request call(client);
    call.put_block("ping", 4);
    call.end_of_request();
    EXPECT_EQ(server.receive_message(), std::string("ping\0", 5));
    server.send("half a rep");
    server.close();
    char into[64];
    EXPECT_EQ(thrown_int([&] { call.get_block(into, sizeof into); }), 0);
    EXPECT_EQ(std::string(into, 10), "half a rep");
    EXPECT_TRUE(client.is_server_dead());
  }
  EXPECT_TRUE(lock_is_free(client));
}

TEST_F(RpcClient, ReadTimeOutPassesTheSocketCodeAndMarksTheServerDead) {
  {
    bounded_client_request call(client, 1);
    call.end_of_request();
    EXPECT_EQ(server.receive_message(), std::string(1, '\0'));
    EXPECT_THROW(call.get_char(), unsigned long);
    EXPECT_TRUE(client.is_server_dead());
  }
  EXPECT_TRUE(lock_is_free(client));
}

TEST_F(RpcClient, FailureReadingTheRestLeavesTheDestructorAfterTheLockIsReleased) {
  bool left_destructor = false;
  try {
    bounded_client_request call(client);
    call.end_of_request();
    server.receive_message();
    server.close();
  } catch (int code) {  // from the destructor, reading the rest of a reply that never came
    EXPECT_EQ(code, 0);
    left_destructor = true;
  }
  EXPECT_TRUE(left_destructor);
  EXPECT_TRUE(client.is_server_dead());
  EXPECT_TRUE(lock_is_free(client));
}

TEST_F(RpcClient, DuringUnwindingNothingLeavesTheDestructorAndTheLockIsReleased) {
  trace_capture capture(wytr::level::error_text);
  std::uint64_t object = 0;
  try {
    bounded_client_request call(client);
    object = object_word(&call);
    call.end_of_request();
    server.receive_message();
    server.close();
    throw std::runtime_error("host failure");
  } catch (std::runtime_error const& e) {
    EXPECT_STREQ(e.what(), "host failure");
  }
  EXPECT_TRUE(client.is_server_dead());
  EXPECT_TRUE(lock_is_free(client));
  std::vector<captured_record> const mine =
      records_of_class(capture.take(), wytr::class_id::rpc_client_request);
  ASSERT_FALSE(mine.empty());
  EXPECT_EQ(mine.back(), text_record(kind_error, wytr::tp::rpc_client_request_lifetime, object,
                                     "ERROR: Failure dropped during unwinding: SERVER DIED"));
}

TEST_F(RpcClient, DuringUnwindingASentRequestReadsItsReplyAndAnUnsentOneNothing) {
  try {
    bounded_client_request call(client);
    call << "sent";
    call.end_of_request();
    EXPECT_EQ(server.receive_message(), std::string("sent\0", 5));
    server.send(std::string("dropped\0", 8));
    throw std::runtime_error("after sending");
  } catch (std::runtime_error const&) {
  }
  try {
    bounded_client_request call(client);
    call << "never sent";
    throw std::runtime_error("before sending");
  } catch (std::runtime_error const&) {
  }
  EXPECT_FALSE(client.is_server_dead());
  bounded_client_request next(client);
  next << "next";
  next.end_of_request();
  EXPECT_EQ(server.receive_message(), std::string("next\0", 5));  // nothing of the unsent one
  server.send(std::string("fresh\0", 6));
  EXPECT_EQ(reply_text(next), std::string("fresh\0", 6));
}

TEST_F(RpcClient, FailedSendMarksTheServerDead) {
  trace_capture capture(wytr::level::error_text | wytr::level::state_note);
  bounded_client_request call(client);
  call << "request";
  call.socket().close_socket();  // the request cannot go out
  EXPECT_THROW(call.end_of_request(), exc_t);
  EXPECT_TRUE(client.is_server_dead());
  std::vector<captured_record> const mine =
      records_of_class(capture.take(), wytr::class_id::rpc_client_request);
  std::uint64_t const o = object_word(&call);
  ASSERT_EQ(mine.size(), 3u);
  EXPECT_EQ(mine[1], text_record(kind_state, wytr::tp::rpc_client_request_really_flush_buffer, o,
                                 "set _client->_is_server_dead"));
  EXPECT_EQ(mine[2], text_record(kind_error, wytr::tp::rpc_client_request_end_of_request, o,
                                 "ERROR: Exception throw: SERVER DIED"));
}

// A request that can reach its socket, for a retry after a broken connection.
struct retrying_request : bounded_client_request {
  using bounded_client_request::bounded_client_request;
  void reconnect() {
    _socket.reconnect();
    _socket.doSelectWait(wait_seconds);
  }
};

TEST_F(RpcClient, ReconnectResendAndRegetCompleteACallAfterTheServerRestarted) {
  raw_peer& first = server;
  {
    retrying_request call(client);
    call << "'question' ";
    call.end_of_request();
    EXPECT_EQ(first.receive_message(), std::string("'question' \0", 12));
    first.close();  // the server dies before it answers
    endpoint.restart();
    EXPECT_EQ(thrown_int([&] { call.get_char(); }), 0);
    EXPECT_TRUE(client.is_server_dead());

    call.reconnect();
    raw_peer second(endpoint.factory());
    call.resend();
    EXPECT_EQ(second.receive_message(), std::string("'question' \0", 12));
    second.send(std::string("'answer' \0", 10));
    call.reget();
    qmgl_value v;
    call >> v;
    EXPECT_STREQ(v.as_charp(), "answer");
    call >> v;
    EXPECT_TRUE(v._body->is_eol());
  }
}

// Values of every type, through an RPC echo server, come back as they went.
TEST_F(RpcClient, EveryValueTypeTravelsBothWays) {
  // A second client, served by an RPC server that echoes what it gets.
  auto echoed = std::make_unique<qmgl_rpc_client>(endpoint.service(), "127.0.0.1");
  auto served = serve_in_thread(endpoint.factory(), [](qmgl_rpc_server& s) { echo_values(s); });
  qmgl_value_array nested = array_list({1, "two", qmgl_value(), qmgl_value(false)});
  nested[2] = array_of({3, bin({0x04})});
  std::vector<qmgl_value> const sent = {
      qmgl_value(),
      qmgl_value(true),
      qmgl_value(qmgl_bool3_unknown),
      qmgl_value(-2147483647 - 1),
      qmgl_value("it's a 'quoted' text"),
      qmgl_value(wide(u"wide \u00e9\u4e2d")),
      bin({0x00, 0x01, 0xab, 0xff}),
      qmgl_value(nested),
  };
  // Arrays read back flat.
  std::vector<qmgl_value> expected_back(sent.begin(), sent.end() - 1);
  expected_back.push_back(array_of({1, "two", 3, bin({0x04}), qmgl_value(false)}));
  {
    bounded_client_request call(*echoed);
    for (qmgl_value const& v : sent)
      v.stream_out(call);
    call.end_of_request();
    for (qmgl_value const& expected : expected_back) {
      qmgl_value got;
      call >> got;
      EXPECT_TRUE(got.is_same_type(expected)) << text_of(expected);
      EXPECT_EQ(text_of(got), text_of(expected));
    }
    qmgl_value end;
    call >> end;
    EXPECT_TRUE(end._body->is_eol());
  }
  echoed.reset();
  EXPECT_TRUE(finished(served));
}

TEST_F(RpcClient, ThreadsSharingAClientGetWholeExchanges) {
  constexpr int threads = 4;
  constexpr int calls = 50;
  // The raw server answers each request with its own text reversed, one message at a time:
  // an interleaved request would show as a message that is no thread's.
  auto answering = std::async(std::launch::async, [this] {
    std::vector<std::string> seen;
    for (int i = 0; i < threads * calls; ++i) {
      std::string m = server.receive_message();
      seen.push_back(m);
      std::string reply(m.rbegin() + 1, m.rend());
      server.send(reply + '\0');
    }
    return seen;
  });
  std::atomic<int> mismatches{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t)
    workers.emplace_back([this, &mismatches, t] {
      try {
        for (int i = 0; i < calls; ++i) {
          std::string const body = "thread " + std::to_string(t) + " call " + std::to_string(i) +
                                   std::string(static_cast<std::size_t>(100 * t), '.');
          bounded_client_request call(client);
          call << body.c_str();
          call.end_of_request();
          std::string const expected = std::string(body.rbegin(), body.rend()) + '\0';
          if (reply_text(call) != expected) ++mismatches;
        }
      } catch (...) {
        ++mismatches;
      }
    });
  for (std::thread& w : workers)
    w.join();
  ASSERT_EQ(answering.wait_for(wait_limit), std::future_status::ready);
  std::vector<std::string> const seen = answering.get();
  EXPECT_EQ(mismatches.load(), 0);
  for (std::string const& m : seen)
    EXPECT_EQ(m.rfind("thread ", 0), 0u) << m;
}

}  // namespace

TEST_F(RpcClient, ReplyOverTheIncomingLimitRaisesAndClosesTheConnection) {
  client.set_incoming_message_limit(4);
  {
    bounded_client_request call(client);
    call.end_of_request();
    server.receive_message();
    server.send(std::string("four\0", 5));
    EXPECT_EQ(reply_text(call), std::string("four\0", 5));
  }
  bounded_client_request call(client);
  call.end_of_request();
  server.receive_message();
  server.send(std::string("fives\0", 6));
  raised const r = raise_of([&] { reply_text(call); });
  EXPECT_EQ(r.type, typeid(exc_range_overflow_t));
  EXPECT_EQ(r.code, 0x20030008u);
  EXPECT_EQ(r.message, "RPC message longer than the limit of 4 bytes");
  EXPECT_TRUE(call.empty());
  EXPECT_TRUE(client.is_server_dead());
  EXPECT_EQ(server.receive_message(), "");  // the client closed the connection
}
