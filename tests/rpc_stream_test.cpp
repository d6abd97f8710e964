// The message stream over one socket: what it sends, how it reads, reget and resend.

#include <cstdio>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <wygl/qmgl_rpc.h>
#include <wygl/wytr_ids.h>

#include "support/rpc_peers.h"

namespace {

constexpr std::uint32_t tp_fill = wytr::tp::rpc_io_fill_buffer;

// A stream over one end of a loopback connection whose other end is a raw peer.
class RpcStream : public ::testing::Test {
 protected:
  RpcStream() : _peer(_endpoint.factory()), stream(_near) { _near.doSelectWait(wait_seconds); }
  // The stream may let a failure out of its destructor; this one never has any to give.
  ~RpcStream() noexcept override {}

  // Every character of the current message, up to and including its 0x00.
  std::string read_message() {
    std::string text;
    while (!stream.empty())
      text += stream.get_char();
    return text;
  }

  void flush() { static_cast<qmgl_output&>(stream).flush(); }

  rpc_endpoint _endpoint;
  qmgl_socket _near{_endpoint.service(), "127.0.0.1"};
  raw_peer _peer;
  qmgl_rpc_input_output stream;
};

TEST_F(RpcStream, SendsWhatWasWrittenOnlyWhenFlushed) {
  stream << "ping";
  stream.put_char('\0');
  stream << "pong";
  EXPECT_EQ(stream.get_output_buffer_length(), 9);
  flush();
  EXPECT_EQ(_peer.receive_message(), std::string("ping\0", 5));
  EXPECT_EQ(_peer.receive_bytes(4), "pong");  // the stream adds no terminator
  EXPECT_EQ(stream.get_output_buffer_length(), 0);

  flush();  // nothing pending: nothing sent, the last message stays
  EXPECT_EQ(std::string(stream.get_last_output_buffer(), 9), std::string("ping\0pong", 9));
}

TEST_F(RpcStream, LargeMessageReadThroughChunksOfAtMost16384Bytes) {
  std::string body(40000, 'x');
  for (std::size_t i = 0; i < body.size(); ++i)
    body[i] = static_cast<char>('a' + i % 26);
  trace_capture capture(wytr::level::wait_note);
  _peer.send(body + '\0');

  EXPECT_EQ(read_message(), body + '\0');
  EXPECT_TRUE(stream.empty());

  int total = 0;
  int reads = 0;
  for (captured_record const& r :
       records_of_class(capture.take(), wytr::class_id::rpc_input_output)) {
    ASSERT_EQ(r.kind, kind_wait);
    ASSERT_EQ(r.tracepoint, tp_fill);
    ASSERT_EQ(r.object, object_word(&stream));
    if (r.data == "Waiting for Socket Read") continue;
    int count = 0;
    ASSERT_EQ(std::sscanf(r.data.c_str(), "After Socket Read:%d", &count), 1) << r.data;
    EXPECT_GE(count, 1);
    EXPECT_LE(count, 16384);
    total += count;
    ++reads;
  }
  EXPECT_EQ(total, 40001);
  EXPECT_GE(reads, 3);
}

TEST_F(RpcStream, ZeroByteEndsTheMessageAndNoReadFollowsWhileEmptyIsTested) {
  _peer.send(std::string("ab\0cd\0", 6));
  EXPECT_EQ(read_message(), std::string("ab\0", 3));
  EXPECT_TRUE(stream.empty());

  trace_capture capture(wytr::level::wait_note);
  EXPECT_EQ(read_message(), "");  // empty stays true: nothing is read
  EXPECT_TRUE(records_of_class(capture.take(), wytr::class_id::rpc_input_output).empty());
}

TEST_F(RpcStream, ResendSendsTheLastFlushedMessageAgainAndNothingBeforeAFlush) {
  stream.resend();  // nothing flushed yet: nothing goes out
  stream << "ab";
  stream.put_char('\0');
  flush();
  stream << "zz";  // pending, not touched by resend
  stream.resend();
  EXPECT_EQ(_peer.receive_message(), std::string("ab\0", 3));
  EXPECT_EQ(_peer.receive_message(), std::string("ab\0", 3));
  stream.put_char('\0');
  flush();
  EXPECT_EQ(_peer.receive_message(), std::string("zz\0", 3));
}

TEST_F(RpcStream, RegetDropsBufferedBytesAndReadsAFreshChunk) {
  _peer.send("abc");
  EXPECT_EQ(stream.get_char(), 'a');  // "bc" stays buffered
  _peer.send(std::string("xyz\0", 4));
  trace_capture capture(wytr::level::public_entry);
  stream.reget();
  EXPECT_EQ(read_message(), std::string("xyz\0", 4));
  EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                plain_record(kind_entered, wytr::tp::rpc_io_reget, &stream),
                                value_record(kind_left, wytr::tp::rpc_io_reget, &stream, 0)}));
}

TEST_F(RpcStream, PeerCloseThrowsIntZeroAfterItsRecords) {
  _peer.send("ab");
  EXPECT_EQ(stream.get_char(), 'a');
  EXPECT_EQ(stream.get_char(), 'b');
  _peer.close();
  trace_capture capture(wytr::level::wait_note | wytr::level::error_text);
  EXPECT_EQ(thrown_int([&] { stream.get_char(); }), 0);
  EXPECT_EQ(
      records_of_class(capture.take(), wytr::class_id::rpc_input_output),
      (std::vector<captured_record>{
          text_record(kind_wait, tp_fill, &stream, "Waiting for Socket Read"),
          text_record(kind_wait, tp_fill, &stream, "After Socket Read:0"),
          text_record(kind_error, tp_fill, &stream, "ERROR: Invalid Length=0 in fill buffer."),
          text_record(kind_error, tp_fill, &stream, "ERROR: thrown in fill buffer.")}));
}

TEST_F(RpcStream, TimedOutReadPassesTheSocketCodeOn) {
  _near.doSelectWait(1);
  trace_capture capture(wytr::level::error_text);
  // The code is the thread's last socket error, which a time-out does not set.
  EXPECT_THROW(stream.get_char(), unsigned long);
  std::vector<captured_record> const mine =
      records_of_class(capture.take(), wytr::class_id::rpc_input_output);
  ASSERT_EQ(mine.size(), 1u);
  EXPECT_EQ(mine[0], text_record(kind_error, tp_fill, &stream, "ERROR: thrown in fill buffer."));
}

TEST_F(RpcStream, LargeFlushArrivesWhole) {
  std::string body(3 * 1024 * 1024, '\0');
  for (std::size_t i = 0; i < body.size(); ++i)
    body[i] = static_cast<char>('A' + i % 23);
  auto received = std::async(std::launch::async, [this] { return _peer.receive_message(); });
  for (char c : body)
    stream.put_char(c);
  stream.put_char('\0');
  flush();
  ASSERT_EQ(received.wait_for(wait_limit), std::future_status::ready);
  std::string const got = received.get();
  EXPECT_EQ(got.size(), body.size() + 1);
  EXPECT_TRUE(got == body + '\0');
}

TEST_F(RpcStream, BlockReadEndsAtTheTerminatorAcrossChunks) {
  std::string body(40000, ' ');
  for (std::size_t i = 0; i < body.size(); ++i)
    body[i] = static_cast<char>('a' + i % 26);
  _peer.send(body + '\0');
  std::vector<char> into(50000);
  ASSERT_EQ(stream.get_block(into.data(), into.size()), body.size());
  EXPECT_TRUE(std::string(into.data(), body.size()) == body);
  EXPECT_TRUE(stream.empty());

  trace_capture capture(wytr::level::wait_note);
  EXPECT_EQ(stream.get_block(into.data(), into.size()), 0u) << "the message has ended";
  EXPECT_TRUE(records_of_class(capture.take(), wytr::class_id::rpc_input_output).empty())
      << "and nothing more is read";
}

TEST_F(RpcStream, BlockReadGoesOnWhereItStoppedAndHonoursAPushedBackCharacter) {
  _peer.send(std::string("abcdefgh\0", 9));
  char into[8];
  ASSERT_EQ(stream.get_block(into, 3), 3u);
  EXPECT_EQ(std::string(into, 3), "abc");
  stream.return_char();  // the last character a block read took
  ASSERT_EQ(stream.get_block(into, 6), 6u);
  EXPECT_EQ(std::string(into, 6), "cdefgh");
  EXPECT_FALSE(stream.empty()) << "a full block does not consume the terminator";
  EXPECT_EQ(stream.get_block(into, 8), 0u);
  EXPECT_TRUE(stream.empty());
  stream.return_char();
  EXPECT_EQ(stream.get_char(), '\0') << "the terminator is what a block read took last";
}

TEST_F(RpcStream, BlockReadAndWriteEchoAsTheCharacterCallsDo) {
  qmgl_ntarray_of<char, 0> read_echo;
  qmgl_output_str read_echo_sink(read_echo);
  static_cast<qmgl_input&>(stream).echo_to(read_echo_sink);
  _peer.send(std::string("in\0", 3));
  char into[8];
  ASSERT_EQ(stream.get_block(into, sizeof into), 2u);
  EXPECT_EQ(std::string(read_echo), "in\r\n");

  qmgl_ntarray_of<char, 0> write_echo;
  qmgl_output_str write_echo_sink(write_echo);
  static_cast<qmgl_output&>(stream).echo_to(write_echo_sink);
  stream.put_block("out", 3);
  EXPECT_EQ(std::string(write_echo), "out");
  stream.put_char('\0');
  flush();
  EXPECT_EQ(_peer.receive_message(), std::string("out\0", 4));
}

TEST_F(RpcStream, BlockWriteSendsTheBytesWithTheCapacityOfPutChar) {
  std::string body(40000, ' ');
  for (std::size_t i = 0; i < body.size(); ++i)
    body[i] = static_cast<char>('A' + i % 23);
  stream << "x";
  stream.put_block(body.data(), 1023);
  EXPECT_EQ(stream.get_output_buffer_capacity(), 1024) << "exactly full";
  stream.put_block(body.data() + 1023, body.size() - 1023);
  EXPECT_EQ(stream.get_output_buffer_capacity(), 1024 + 3 * 16384);
  stream.put_block("", 0);
  stream.put_char('\0');
  auto received = std::async(std::launch::async, [this] { return _peer.receive_message(); });
  flush();
  ASSERT_EQ(received.wait_for(wait_limit), std::future_status::ready);
  EXPECT_TRUE(received.get() == "x" + body + '\0');
}

// The value writer puts whole texts into the block buffer and the reader takes them from it;
// both must leave the stream as their character loops would, across chunk boundaries.
TEST_F(RpcStream, ValueTextsCrossChunksAsCharacterByCharacter) {
  std::string text(40000, ' ');
  std::string doubled;
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = i % 50 == 49 ? '\'' : static_cast<char>('a' + i % 26);
    doubled += text[i] == '\'' ? "''" : std::string(1, text[i]);
  }
  std::string const expected = "'" + doubled + "' 7  ";
  qmgl_value(text.c_str()).stream_out(stream);
  qmgl_value(7).stream_out(stream);
  EXPECT_EQ(stream.get_output_buffer_capacity(), 1024 + 3 * 16384) << "as put_char reaches";
  auto received = std::async(std::launch::async,
                             [&] { return _peer.receive_bytes(expected.size()); });
  flush();
  ASSERT_EQ(received.wait_for(wait_limit), std::future_status::ready);
  EXPECT_TRUE(received.get() == expected);

  trace_capture capture(wytr::level::wait_note);
  _peer.send(expected + '\0');
  qmgl_value a, b, end;
  stream >> a >> b >> end;
  EXPECT_TRUE(a.as_str() == text.c_str());
  EXPECT_EQ(b.as_int(), 7);
  EXPECT_TRUE(end.is_null() && !end.is_eoi()) << "EOL";
  EXPECT_TRUE(stream.empty());
  int received_bytes = 0;
  for (captured_record const& r :
       records_of_class(capture.take(), wytr::class_id::rpc_input_output)) {
    int count = 0;
    if (std::sscanf(r.data.c_str(), "After Socket Read:%d", &count) == 1) received_bytes += count;
  }
  EXPECT_EQ(received_bytes, static_cast<int>(expected.size() + 1)) << "nothing read beyond";
}

TEST_F(RpcStream, BlockReadPassesThePeersCloseOn) {
  _peer.send("ab");
  _peer.close();
  char into[8];
  EXPECT_EQ(thrown_int([&] { stream.get_block(into, sizeof into); }), 0);
  EXPECT_EQ(std::string(into, 2), "ab") << "stored before the failure";
}

}  // namespace
