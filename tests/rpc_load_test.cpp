// Many threads calling through shared clients at once: every reply matches its request,
// nothing is lost and no thread is left waiting. 8 clients, each shared by 4 threads, 2000
// calls a thread; one echoing server thread per connection. Each call carries its thread and
// call numbers, a text of 17 to 1040 bytes (every 200th call one of 16 KB to 64 KB, which
// spans several reads) and a small byte string, so that a request interleaved with another
// shows as a reply that is not its own.

#include <future>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <wygl/qmgl_rpc.h>

#include "support/rpc_peers.h"
#include "support/value_helpers.h"

namespace {

constexpr int client_count = 8;
constexpr int threads_per_client = 4;
constexpr int calls_per_thread = 2000;
constexpr int server_wait_seconds = 60;
constexpr auto run_limit = std::chrono::seconds(300);

std::string payload(int thread, int call) {
  std::size_t const size = call % 200 == 199
                               ? 16384 + static_cast<std::size_t>(call / 200) * 5461 % 49153
                               : 17 + static_cast<std::size_t>(call * 37) % 1024;
  std::string text(size, ' ');
  for (std::size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char>('a' + (i + static_cast<std::size_t>(thread * 7 + call)) % 26);
  return text;
}

// One thread's calls; returns the number of replies that matched their request.
int make_calls(qmgl_rpc_client& client, int thread) {
  int matched = 0;
  for (int call = 0; call < calls_per_thread; ++call) {
    std::string const text = payload(thread, call);
    qmgl_value const sent[] = {
        qmgl_value(thread), qmgl_value(call), qmgl_value(text.c_str()),
        bin({static_cast<unsigned char>(thread), static_cast<unsigned char>(call), 0x00, 0xff})};
    bounded_client_request request(client, server_wait_seconds);
    for (qmgl_value const& v : sent)
      v.stream_out(request);
    request.end_of_request();
    bool same = true;
    for (qmgl_value const& v : sent) {
      qmgl_value got;
      request >> got;
      same = same && got.is_same_type(v) && text_of(got) == text_of(v);
    }
    qmgl_value end;
    request >> end;
    if (same && end._body->is_eol()) ++matched;
  }
  return matched;
}

TEST(RpcLoad, SharedClientsUnderLoadGetEveryReplyRight) {
  rpc_endpoint endpoint;
  std::vector<std::unique_ptr<qmgl_rpc_client>> clients;
  std::vector<std::future<void>> servers;
  for (int c = 0; c < client_count; ++c) {
    clients.push_back(std::make_unique<qmgl_rpc_client>(endpoint.service(), "127.0.0.1"));
    servers.push_back(serve_in_thread(endpoint.factory(), [](qmgl_rpc_server& connection) {
      echo_values(connection, server_wait_seconds);
    }));
  }
  std::vector<std::future<int>> callers;
  for (int t = 0; t < client_count * threads_per_client; ++t)
    callers.push_back(std::async(std::launch::async, [&clients, t] {
      return make_calls(*clients[static_cast<std::size_t>(t / threads_per_client)], t);
    }));
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
    EXPECT_TRUE(finished(server, run_limit));
}

}  // namespace
