// Many threads calling through shared clients at once: every reply matches its request,
// nothing is lost and no thread is left waiting.
//
// 8 clients, each shared by 4 threads (32 in all), each thread making 2000 calls; one server
// thread per connection echoes each request's values. A call carries its thread and call
// numbers, a text payload and a small byte string. Payload sizes: mostly small (17 to 1040
// bytes, varying with the call number), and every 200th call a large one of 16 KB to 64 KB, so
// that long messages that span several reads mix with short ones on every connection while
// the run stays within about a minute under the sanitizers.

#include <atomic>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <wygl/qmgl_rpc.h>
#include <wygl/qmgl_value_reader.h>

#include "support/rpc_peers.h"
#include "support/value_helpers.h"

namespace {

constexpr int client_count = 8;
constexpr int threads_per_client = 4;
constexpr int calls_per_thread = 2000;
constexpr int server_wait_seconds = 60;
constexpr auto run_limit = std::chrono::minutes(5);

std::size_t payload_size(int call) {
  if (call % 200 == 199) return 16384 + static_cast<std::size_t>(call / 200) * 5461 % 49153;
  return 17 + static_cast<std::size_t>(call * 37) % 1024;
}

std::string payload(int thread, int call) {
  std::string text(payload_size(call), ' ');
  for (std::size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char>('a' + (i + static_cast<std::size_t>(thread * 7 + call)) % 26);
  return text;
}

// One thread's calls; returns the number of replies that matched their request.
int make_calls(qmgl_rpc_client& client, int thread) {
  int matched = 0;
  for (int call = 0; call < calls_per_thread; ++call) {
    std::string const text = payload(thread, call);
    qmgl_value const tag =
        bin({static_cast<unsigned char>(thread), static_cast<unsigned char>(call), 0x00, 0xff});
    bounded_client_request request(client, server_wait_seconds);
    qmgl_value(thread).stream_out(request);
    qmgl_value(call).stream_out(request);
    qmgl_value(text.c_str()).stream_out(request);
    tag.stream_out(request);
    request.end_of_request();
    qmgl_value v[5];
    for (qmgl_value& each : v)
      request >> each;
    bool const same = v[0].is_int() && v[0].as_int() == thread && v[1].is_int() &&
                      v[1].as_int() == call && v[2].is_str() && text == v[2].as_charp() &&
                      v[3].is_bin() && bytes_in(v[3].as_bin()) == bytes_in(tag.as_bin()) &&
                      v[4]._body->is_eol();
    if (same) ++matched;
  }
  return matched;
}

TEST(RpcLoad, SharedClientsUnderLoadGetEveryReplyRight) {
  rpc_endpoint endpoint;
  std::vector<std::unique_ptr<qmgl_rpc_client>> clients;
  for (int c = 0; c < client_count; ++c)
    clients.push_back(std::make_unique<qmgl_rpc_client>(endpoint.service(), "127.0.0.1"));
  std::vector<std::future<void>> servers;
  for (int c = 0; c < client_count; ++c)
    servers.push_back(serve_in_thread(endpoint.factory(), [](qmgl_rpc_server& connection) {
      echo_values(connection, server_wait_seconds);
    }));

  std::vector<std::future<int>> callers;
  for (int t = 0; t < client_count * threads_per_client; ++t) {
    qmgl_rpc_client& client = *clients[static_cast<std::size_t>(t / threads_per_client)];
    callers.push_back(
        std::async(std::launch::async, [&client, t] { return make_calls(client, t); }));
  }
  int matched = 0;
  for (std::future<int>& caller : callers) {
    ASSERT_EQ(caller.wait_for(run_limit), std::future_status::ready);
    matched += caller.get();
  }
  EXPECT_EQ(matched, client_count * threads_per_client * calls_per_thread);
  for (auto const& client : clients)
    EXPECT_FALSE(client->is_server_dead());

  clients.clear();  // the servers see their clients leave and end
  for (std::future<void>& server : servers)
    EXPECT_TRUE(finished(server, std::chrono::duration_cast<std::chrono::seconds>(run_limit)));
}

}  // namespace
