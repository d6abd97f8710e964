// The message stream over one socket: what it sends, how it reads, reget and resend.

#include <cstdio>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <wygl/qmgl_rpc.h>
#include <wygl/qmgl_value.h>
#include <wygl/qmgl_value_reader.h>
#include <wygl/wytr_ids.h>

#include "support/rpc_peers.h"

using namespace std::string_literals;

namespace {

constexpr std::uint32_t tp_fill = wytr::tp::rpc_io_fill_buffer;

// A stream over one end of a loopback connection whose other end is a raw peer.
class RpcStream : public ::testing::Test {
 protected:
  RpcStream() : _peer(_endpoint.factory()), stream(_near) { _near.doSelectWait(wait_seconds); }
  // The stream may let a failure out of its destructor; this one never has any to give.
  ~RpcStream() noexcept override {}

  void flush() { static_cast<qmgl_output&>(stream).flush(); }

  rpc_endpoint _endpoint;
  qmgl_socket _near{_endpoint.service(), "127.0.0.1"};
  raw_peer _peer;
  qmgl_rpc_input_output stream;
};

std::string const alphabet_body = [] {
  std::string body(40000, ' ');
  for (std::size_t i = 0; i < body.size(); ++i)
    body[i] = static_cast<char>('a' + i % 26);
  return body;
}();

// A message is read in chunks of at most 16384 bytes up to its 0x00 and not beyond, by blocks
// that go on where the last one stopped, or after a character pushed back; a full block does
// not consume the 0x00, and once it is consumed, reads return nothing without waiting.
TEST_F(RpcStream, ReadsAMessageInChunksOfAtMost16384BytesUpToItsZero) {
  trace_capture capture(wytr::level::wait_note);
  _peer.send(alphabet_body + '\0' + "next");
  std::vector<char> into(alphabet_body.size());
  ASSERT_EQ(stream.get_block(into.data(), 3), 3u);
  stream.return_char();
  std::size_t const rest = alphabet_body.size() - 2;
  ASSERT_EQ(stream.get_block(into.data() + 2, rest), rest);
  EXPECT_TRUE(std::string(into.data(), alphabet_body.size()) == alphabet_body);
  EXPECT_FALSE(stream.empty());
  EXPECT_EQ(stream.get_block(into.data(), into.size()), 0u);
  EXPECT_EQ(stream.get_block(into.data(), into.size()), 0u);  // "next" is not read
  stream.return_char();
  EXPECT_EQ(stream.get_char(), '\0') << "the 0x00 is what a block read took last";
  int total = 0;
  for (captured_record const& r :
       records_of_class(capture.take(), wytr::class_id::rpc_input_output)) {
    int count = 0;
    if (std::sscanf(r.data.c_str(), "After Socket Read:%d", &count) != 1) continue;
    EXPECT_TRUE(count >= 1 && count <= 16384) << count;
    total += count;
  }
  EXPECT_EQ(total, 40005);
  // Room for a whole chunk: it is received in place, and the read stops at the 0x00 as well.
  qmgl_rpc_input_output second(_near);
  _peer.send("short\0"s);
  EXPECT_EQ(second.get_block(into.data(), into.size()), 5u);
  EXPECT_EQ(std::string(into.data(), 5), "short");
  EXPECT_TRUE(second.empty());
}

// The bytes an RPC stream has read in its chunks, by its "After Socket Read" records.
int bytes_read(std::vector<captured_record> const& records) {
  int total = 0;
  for (captured_record const& r : records_of_class(records, wytr::class_id::rpc_input_output)) {
    int count = 0;
    if (std::sscanf(r.data.c_str(), "After Socket Read:%d", &count) != 1) continue;
    EXPECT_TRUE(count >= 1 && count <= 16384) << count;
    total += count;
  }
  return total;
}

// A message read through a stream; the block reads have the given room.
std::string read_message(qmgl_rpc_input_output& stream, std::size_t room) {
  std::string message;
  if (room == 0) {
    for (char c; !stream.empty() && (c = stream.get_char()) != '\0';)
      message += c;
    return message;
  }
  std::vector<char> into(room);
  while (std::size_t const n = stream.get_block(into.data(), room))
    message.append(into.data(), n);
  return message;
}

// The stream receives up to 64 KB at once, but its reads are the same chunks of at most 16384
// bytes that receives of that size give: the chunk with a message's 0x00 may bring bytes of a
// next message (the peer broke the alternation), and every byte after that chunk is left for
// the next reader, whichever way the message was read, even when the receive landed it in the
// reader's own memory. A reconnect drops what was received ahead on the old connection.
TEST_F(RpcStream, ReceivesAheadAndLeavesWhatFollowsTheChunkForTheNextReader) {
  std::string const next_body = alphabet_body + alphabet_body + alphabet_body;
  for (std::size_t const first_length : {100, 40000})
    for (std::size_t const first_room : {0, 5000, 70000})
      for (std::size_t const next_room : {0, 70000}) {
        SCOPED_TRACE(std::to_string(first_length) + " bytes, rooms " + std::to_string(first_room) +
                     " and " + std::to_string(next_room));
        std::string const first_body = alphabet_body.substr(0, first_length);
        trace_capture capture(wytr::level::wait_note);
        _peer.send(first_body + '\0' + next_body + '\0');
        qmgl_rpc_input_output first(_near);
        EXPECT_TRUE(read_message(first, first_room) == first_body);
        std::size_t const taken =
            static_cast<std::size_t>(bytes_read(capture.take())) - first_length - 1;
        EXPECT_LT(taken, 16384u) << "beyond the chunk of the 0x00";
        qmgl_rpc_input_output next(_near);
        EXPECT_TRUE(read_message(next, next_room) == next_body.substr(taken));
      }

  _peer.send(alphabet_body + '\0');
  qmgl_rpc_input_output partly(_near);
  for (int i = 0; i < 20000; ++i)
    partly.get_char();  // a full chunk, then the receives ahead
  _near.reconnect();
  raw_peer fresh(_endpoint.factory());
  fresh.send("fresh\0"s);
  qmgl_rpc_input_output after(_near);
  EXPECT_EQ(read_message(after, 0), "fresh");
}

// reget drops the buffered bytes and reads a fresh chunk; the peer's close then throws the int 0,
// after the bytes before it were stored.
TEST_F(RpcStream, RegetReadsAFreshChunkAndPeerCloseThrowsIntZero) {
  _peer.send("abc");
  EXPECT_EQ(stream.get_char(), 'a');  // "bc" stays buffered
  _peer.send("xyz");
  stream.reget();
  EXPECT_EQ(stream.get_char(), 'x');
  _peer.close();
  trace_capture capture(wytr::level::wait_note | wytr::level::error_text);
  std::string into(20000, '\0');  // room for a chunk received in place
  EXPECT_EQ(what_leaves([&] { stream.get_block(into.data(), into.size()); }), "int 0");
  EXPECT_STREQ(into.c_str(), "yz");
  EXPECT_EQ(
      records_of_class(capture.take(), wytr::class_id::rpc_input_output),
      (std::vector<captured_record>{
          text_record(kind_wait, tp_fill, &stream, "Waiting for Socket Read"),
          text_record(kind_wait, tp_fill, &stream, "After Socket Read:0"),
          text_record(kind_error, tp_fill, &stream, "ERROR: Invalid Length=0 in fill buffer."),
          text_record(kind_error, tp_fill, &stream, "ERROR: thrown in fill buffer.")}));
}

// Writing collects until a flush, which sends it as it is. A block write leaves the buffer as
// the put_char calls it stands for would, and echoes as they do. resend sends the last flushed
// message again (nothing before the first flush) and leaves what is pending alone.
TEST_F(RpcStream, SendsWhatWasWrittenWhenFlushedAndResendsTheLastMessage) {
  stream.resend();
  stream << "x";
  stream.put_block(alphabet_body.data(), 1023);
  EXPECT_EQ(stream.get_output_buffer_capacity(), 1024) << "exactly full";
  stream.put_block(alphabet_body.data() + 1023, alphabet_body.size() - 1023);
  EXPECT_EQ(stream.get_output_buffer_capacity(), 1024 + 3 * 16384);
  stream.put_block("", 0);
  qmgl_ntarray_of<char, 0> echo;
  qmgl_output_str echo_sink(echo);
  static_cast<qmgl_output&>(stream).echo_to(echo_sink);
  stream.put_block("out", 3);
  EXPECT_EQ(std::string(echo), "out");
  stream.put_char('\0');
  stream << "end";
  std::string const sent = "x" + alphabet_body + "out" + '\0' + "end";
  EXPECT_EQ(stream.get_output_buffer_length(), static_cast<int>(sent.size()));
  auto received = std::async(std::launch::async,
                             [this, &sent] { return _peer.receive_bytes(2 * sent.size()); });
  flush();
  EXPECT_EQ(stream.get_output_buffer_length(), 0);
  flush();  // nothing pending: nothing sent, the last message stays
  stream << "zz";
  stream.resend();
  ASSERT_EQ(received.wait_for(wait_limit), std::future_status::ready);
  EXPECT_TRUE(received.get() == sent + sent) << "no terminator added";
  EXPECT_EQ(stream.get_output_buffer_length(), 2) << "zz stays pending";
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
  auto received =
      std::async(std::launch::async, [&] { return _peer.receive_bytes(expected.size()); });
  flush();
  ASSERT_EQ(received.wait_for(wait_limit), std::future_status::ready);
  EXPECT_TRUE(received.get() == expected);

  trace_capture capture(wytr::level::wait_note);
  _peer.send(expected + '\0');
  qmgl_value a, b, end;
  stream >> a >> b >> end;
  EXPECT_TRUE(a.as_str() == text.c_str() && b.as_int() == 7);
  EXPECT_TRUE(end.is_null() && !end.is_eoi() && stream.empty()) << "EOL, and the message ends";
  int read = 0;
  for (captured_record const& r :
       records_of_class(capture.take(), wytr::class_id::rpc_input_output)) {
    int count = 0;
    if (std::sscanf(r.data.c_str(), "After Socket Read:%d", &count) == 1) read += count;
  }
  EXPECT_EQ(read, static_cast<int>(expected.size() + 1)) << "nothing read beyond the 0x00";
}

}  // namespace
