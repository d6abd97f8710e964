// 32 threads calling through 8 shared clients at once, 2000 calls each, with texts of 17 bytes
// to 64 KB: every reply matches its request (an interleaved request would show as a reply that
// is not its own), nothing is lost and no thread is left waiting.

#include <deque>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <wygl/qmgl_rpc.h>

#include "support/rpc_peers.h"
#include "support/value_helpers.h"

namespace {

constexpr int clients = 8, threads_per_client = 4, calls_per_thread = 2000;
constexpr int server_wait_seconds = 60;
constexpr auto run_limit = std::chrono::seconds(300);

// One thread's calls; returns the number of replies that matched their request.
int make_calls(qmgl_rpc_client& client, int thread) {
  int matched = 0;
  for (int call = 0; call < calls_per_thread; ++call) {
    std::size_t const size = call % 200 == 199 ? 16384 + std::size_t{5461} * (call / 200) % 49153
                                               : 17 + std::size_t{37} * call % 1024;
    std::string const text(size, static_cast<char>('a' + (thread + call) % 26));
    std::vector<qmgl_value> const sent = {
        thread, call, text.c_str(),
        bin({static_cast<unsigned char>(thread), static_cast<unsigned char>(call), 0x00, 0xff})};
    bounded_client_request request(client, server_wait_seconds);
    std::string sent_text, got_text;
    for (qmgl_value const& v : sent) {
      v.stream_out(request);
      sent_text += text_of(v);
    }
    request.end_of_request();
    for (qmgl_value v; request >> v, !v._body->is_eol();)
      got_text += text_of(v);
    matched += got_text == sent_text ? 1 : 0;
  }
  return matched;
}

TEST(RpcLoad, SharedClientsUnderLoadGetEveryReplyRight) {
  rpc_endpoint endpoint;
  std::deque<qmgl_rpc_client> connections;
  std::vector<std::future<void>> servers;
  for (int c = 0; c < clients; ++c) {
    connections.emplace_back(endpoint.service(), "127.0.0.1");
    servers.push_back(serve_in_thread(endpoint.factory(), [](qmgl_rpc_server& connection) {
      echo_values(connection, server_wait_seconds);
    }));
  }
  std::vector<std::future<int>> callers;
  for (int t = 0; t < clients * threads_per_client; ++t)
    callers.push_back(std::async(std::launch::async, [&connections, t] {
      return make_calls(connections[static_cast<std::size_t>(t / threads_per_client)], t);
    }));
  int matched = 0;
  for (std::future<int>& caller : callers) {
    ASSERT_EQ(caller.wait_for(run_limit), std::future_status::ready);
    matched += caller.get();
  }
  EXPECT_EQ(matched, clients * threads_per_client * calls_per_thread);
  connections.clear();  // the servers see their clients leave and end
  for (std::future<void>& server : servers)
    EXPECT_TRUE(finished(server, run_limit));
}

}  // namespace
