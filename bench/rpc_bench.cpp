// RPC calls on loopback against raw TCP carrying the same bytes in the same run: the round
// trip of a small value call, bodies of 1 to 64 MB echoed back in blocks, and a 1 MB STR value
// echoed back through the value writer and reader.
//
// Each benchmark runs its server on a thread of its own, on a free loopback port named in a
// temporary services file; the raw side reads and writes through qmgl_socket directly. Times
// are wall-clock (UseRealTime): the calling thread spends most of a round trip waiting.

#include <future>
#include <memory>
#include <string>
#include <utility>

#include <benchmark/benchmark.h>
#include <wygl/qmgl_rpc.h>
#include <wygl/qmgl_value.h>
#include <wygl/qmgl_value_reader.h>

#include "support/loopback_services.h"

namespace {

constexpr std::size_t megabyte = 1024 * 1024;

// The services file of the whole run; each benchmark run names a fresh port in it.
loopback_services& services() {
  static loopback_services file;
  return file;
}

// One connection: a listening endpoint, and a server thread that serves its first
// connection with serve(socket or RPC server) until the client goes.
template <class Server>
struct served_connection {
  std::string service = services().add("bench");
  qmgl_rpc_server_factory factory{service.c_str(), qmgl_rpc_server_factory::tcp};
  std::future<void> server;

  template <class Serve>
  void start(Serve serve) {
    server = std::async(std::launch::async, [this, serve] {
      try {
        Server end(factory);
        serve(end);
      } catch (...) {
        // The client left: the int 0, or a socket error on the way out.
      }
    });
  }
};

// Writes all of bytes to socket.
void send_all(qmgl_socket& socket, char const* bytes, std::size_t length) {
  for (std::size_t sent = 0; sent < length;)
    sent += socket.write(const_cast<char*>(bytes) + sent, static_cast<unsigned>(length - sent));
}

// Reads into buffer up to and including the next 0x00 (a message ends with its last read);
// returns the message's length, or 0 when the peer has closed.
std::size_t receive_message(qmgl_socket& socket, std::string& buffer) {
  std::size_t length = 0;
  for (;;) {
    if (buffer.size() - length < 65536) buffer.resize(length + 65536);
    unsigned int const n = socket.read(buffer.data() + length, 65536);
    if (n == 0) return 0;
    length += n;
    if (buffer[length - 1] == '\0') return length;
  }
}

// The raw server: every message comes back as it came.
void raw_echo(qmgl_socket& socket) {
  std::string buffer;
  for (std::size_t n; (n = receive_message(socket, buffer)) != 0;)
    send_all(socket, buffer.data(), n);
}

// The text the value writer writes for v.
std::string text_of(qmgl_value const& v) {
  qmgl_ntarray_of<char, 0> text;
  qmgl_output_str out(text);
  v.stream_out(out);
  return std::string(text, text.length());
}

// The bytes of the small call: one INT and one short STR.
std::string small_call_text() {
  return text_of(qmgl_value(4711)) + text_of(qmgl_value("hello")) + '\0';
}

void BM_RpcSmallCallRoundTrip(benchmark::State& state) {
  served_connection<qmgl_rpc_server> connection;
  connection.start([](qmgl_rpc_server& server) {
    while (!server.is_client_dead()) {
      qmgl_rpc_server_request request(server);
      qmgl_value number;
      qmgl_value text;
      request >> number >> text;
      request.consume_request();
      number.stream_out(request);
      text.stream_out(request);
    }
  });
  {
    qmgl_rpc_client client(connection.service.c_str(), "127.0.0.1");
    qmgl_value const number(4711);
    qmgl_value const text("hello");
    for (auto _ : state) {
      qmgl_rpc_client_request call(client);
      number.stream_out(call);
      text.stream_out(call);
      call.end_of_request();
      qmgl_value a;
      qmgl_value b;
      call >> a >> b;
      benchmark::DoNotOptimize(a.as_int());
    }
  }
  connection.server.wait();
}
BENCHMARK(BM_RpcSmallCallRoundTrip)->UseRealTime();

void BM_RawSmallCallRoundTrip(benchmark::State& state) {
  served_connection<qmgl_socket> connection;
  connection.start(raw_echo);
  {
    qmgl_socket client(connection.service.c_str(), "127.0.0.1");
    std::string const bytes = small_call_text();
    std::string buffer;
    for (auto _ : state) {
      send_all(client, bytes.data(), bytes.size());
      benchmark::DoNotOptimize(receive_message(client, buffer));
    }
  }
  connection.server.wait();
}
BENCHMARK(BM_RawSmallCallRoundTrip)->UseRealTime();

// A body of n bytes of letters; every 64th byte is an apostrophe when with_quotes is set.
std::string body_of(std::size_t n, bool with_quotes = false) {
  std::string body(n, ' ');
  for (std::size_t i = 0; i < body.size(); ++i)
    body[i] = with_quotes && i % 64 == 63 ? '\'' : static_cast<char>('a' + i % 26);
  return body;
}

// The echoes of 1 to 64 MB measure a connection in use: two echoes run untimed first, on both
// sides. The first messages of a size pay for memory touched for the first time (on each side
// of the RPC connection the pending and the last message's buffer grow to the message's size,
// one in the first exchange and the other in the second; the raw side's buffers grow once; the
// kernel's socket buffers too) and for the loopback connection's window growing. On this kind
// of virtual machine a page touched for the first time costs about 25 us, so that the first
// echo of 64 MB takes up to 20 times a later one; with the one or two timed echoes a size that
// large gets, it would be most of the figure.
constexpr int untimed_echoes = 2;

// The sizes of the large echoes, in megabytes, and how they are timed.
void echo_sizes(benchmark::internal::Benchmark* b) {
  b->Arg(1)->Arg(4)->Arg(16)->Arg(64)->UseRealTime()->Unit(benchmark::kMillisecond);
}

// Runs echo untimed_echoes times, then once per timed iteration.
template <class Echo>
void time_echoes(benchmark::State& state, Echo const& echo) {
  for (int i = 0; i < untimed_echoes; ++i)
    echo();
  for (auto _ : state)
    benchmark::DoNotOptimize(echo());
}

// The body moves through the streams in blocks (put_block, get_block): one copy per block. The
// argument is the size in megabytes.
void BM_RpcEchoBlocks(benchmark::State& state) {
  std::size_t const size = static_cast<std::size_t>(state.range(0)) * megabyte;
  served_connection<qmgl_rpc_server> connection;
  connection.start([](qmgl_rpc_server& server) {
    std::string block(65536, '\0');
    while (!server.is_client_dead()) {
      qmgl_rpc_server_request request(server);
      while (std::size_t const n = request.get_block(block.data(), block.size()))
        request.put_block(block.data(), n);
    }
  });
  {
    qmgl_rpc_client client(connection.service.c_str(), "127.0.0.1");
    std::string const body = body_of(size);
    std::string reply(size, '\0');
    time_echoes(state, [&] {
      qmgl_rpc_client_request call(client);
      call.put_block(body.data(), body.size());
      call.end_of_request();
      return call.get_block(reply.data(), reply.size());
    });
  }
  connection.server.wait();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}
BENCHMARK(BM_RpcEchoBlocks)->Apply(echo_sizes);

// The raw side of the block echo: the same bytes and their 0x00 through qmgl_socket.
void BM_RawEcho(benchmark::State& state) {
  std::size_t const size = static_cast<std::size_t>(state.range(0)) * megabyte;
  served_connection<qmgl_socket> connection;
  connection.start(raw_echo);
  {
    qmgl_socket client(connection.service.c_str(), "127.0.0.1");
    std::string const body = body_of(size) + '\0';
    std::string buffer;
    time_echoes(state, [&] {
      send_all(client, body.data(), body.size());
      return receive_message(client, buffer);
    });
  }
  connection.server.wait();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}
BENCHMARK(BM_RawEcho)->Apply(echo_sizes);

// The same 1 MB echo one character at a time (put_char, get_char), as the output and input
// operators move text.
void BM_RpcEchoOneMegabyteByChar(benchmark::State& state) {
  served_connection<qmgl_rpc_server> connection;
  connection.start([](qmgl_rpc_server& server) {
    while (!server.is_client_dead()) {
      qmgl_rpc_server_request request(server);
      for (char c = request.get_char(); c != '\0'; c = request.get_char())
        request.put_char(c);
    }
  });
  {
    qmgl_rpc_client client(connection.service.c_str(), "127.0.0.1");
    std::string const body = body_of(megabyte);
    for (auto _ : state) {
      qmgl_rpc_client_request call(client);
      for (char c : body)
        call.put_char(c);
      call.end_of_request();
      std::size_t received = 0;
      while (call.get_char() != '\0')
        ++received;
      benchmark::DoNotOptimize(received);
    }
  }
  connection.server.wait();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(megabyte));
}
BENCHMARK(BM_RpcEchoOneMegabyteByChar)->UseRealTime()->Unit(benchmark::kMillisecond);

// A 1 MB STR value (with an apostrophe every 64 bytes) as a request, read by the server and
// written back as its reply, read again by the client: the value writer and reader on both
// sides.
void BM_RpcEchoStrValue(benchmark::State& state) {
  served_connection<qmgl_rpc_server> connection;
  connection.start([](qmgl_rpc_server& server) {
    while (!server.is_client_dead()) {
      qmgl_rpc_server_request request(server);
      qmgl_value v;
      request >> v;
      request.consume_request();
      v.stream_out(request);
    }
  });
  {
    qmgl_rpc_client client(connection.service.c_str(), "127.0.0.1");
    qmgl_value const text(body_of(megabyte, true).c_str());
    for (auto _ : state) {
      qmgl_rpc_client_request call(client);
      text.stream_out(call);
      call.end_of_request();
      qmgl_value reply;
      call >> reply;
      benchmark::DoNotOptimize(reply.as_str().length());
    }
  }
  connection.server.wait();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(megabyte));
}
BENCHMARK(BM_RpcEchoStrValue)->UseRealTime()->Unit(benchmark::kMillisecond);

// The raw side of the STR echo: the text of that value and its 0x00.
void BM_RawEchoStrValue(benchmark::State& state) {
  served_connection<qmgl_socket> connection;
  connection.start(raw_echo);
  {
    qmgl_socket client(connection.service.c_str(), "127.0.0.1");
    std::string const bytes = text_of(qmgl_value(body_of(megabyte, true).c_str())) + '\0';
    std::string buffer;
    for (auto _ : state) {
      send_all(client, bytes.data(), bytes.size());
      benchmark::DoNotOptimize(receive_message(client, buffer));
    }
  }
  connection.server.wait();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(megabyte));
}
BENCHMARK(BM_RawEchoStrValue)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
