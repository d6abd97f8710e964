// TCP sockets over loopback: listening factories, accepted and connecting sockets, their
// failures, codes and trace records. Every port is a free one named in a temporary services
// file; every wait is bounded.

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <typeindex>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_socket.h>

#include "support/loopback_services.h"
#include "support/raised.h"
#include "support/trace_capture.h"

namespace {

using namespace std::chrono_literals;

constexpr auto accept_limit = 20s;
constexpr int read_wait_seconds = 20;

// A connection across a listener: the client side made here, the server side accepted on
// another thread within a time limit.
struct connected_pair {
  std::unique_ptr<qmgl_socket> client;
  std::unique_ptr<qmgl_socket> server;
};

std::unique_ptr<qmgl_socket> accept_within_limit(std::future<std::unique_ptr<qmgl_socket>>& f) {
  if (f.wait_for(accept_limit) != std::future_status::ready) return nullptr;
  return f.get();
}

std::future<std::unique_ptr<qmgl_socket>> accept_next(qmgl_socket_factory& listener) {
  return std::async(std::launch::async,
                    [&listener] { return std::make_unique<qmgl_socket>(listener); });
}

connected_pair connect_through(qmgl_socket_factory& listener, std::string const& service,
                               char const* host) {
  auto accepted = accept_next(listener);
  connected_pair pair;
  pair.client = std::make_unique<qmgl_socket>(service.c_str(), host);
  pair.server = accept_within_limit(accepted);
  if (pair.server) {
    pair.client->doSelectWait(read_wait_seconds);
    pair.server->doSelectWait(read_wait_seconds);
  }
  return pair;
}

void write_all(qmgl_socket& socket, std::string text) {
  std::size_t done = 0;
  while (done < text.size())
    done += socket.write(text.data() + done, static_cast<unsigned int>(text.size() - done));
}

std::string read_exactly(qmgl_socket& socket, std::size_t n) {
  std::string text(n, '\0');
  std::size_t done = 0;
  while (done < n) {
    unsigned int const got = socket.read(text.data() + done, static_cast<unsigned int>(n - done));
    if (got == 0) break;
    done += got;
  }
  text.resize(done);
  return text;
}

class Socket : public testing::Test {
 protected:
  loopback_services services;
};

TEST_F(Socket, CarriesBytesBothWaysAndReadsZeroAfterThePeerCloses) {
  std::string const echo = services.add("echo");
  qmgl_socket_factory listener(echo.c_str(), qmgl_socket_factory::tcp);
  connected_pair pair = connect_through(listener, echo, "127.0.0.1");
  ASSERT_TRUE(pair.server);

  write_all(*pair.client, "request");
  EXPECT_EQ(read_exactly(*pair.server, 7), "request");
  write_all(*pair.server, "reply");
  EXPECT_EQ(read_exactly(*pair.client, 5), "reply");

  pair.server->close_socket();
  char byte = 0;
  EXPECT_EQ(pair.client->read(&byte, 1), 0u);
}

}  // namespace
