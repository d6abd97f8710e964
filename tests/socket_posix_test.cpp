// What the POSIX backend's sockets add to the behaviour that every platform shares.

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_socket.h>

#include "os/last_error.h"
#include "support/loopback_services.h"
#include "support/raised.h"
#include "support/trace_capture.h"

namespace {

// A time-out sets no error of its own, as Windows documents for select: the code thrown is
// the thread's last socket error as it stood, which the thread keeps afterwards. (Wine's
// select clears the error on a time-out.)
TEST(Socket, ATimedOutSelectWaitThrowsTheThreadsLastSocketError) {
  constexpr std::uint32_t wsaetimedout = 10060;
  loopback_services services;
  std::string const echo = services.add("echo");
  qmgl_socket_factory listener(echo.c_str(), qmgl_socket_factory::tcp);
  auto accepting = std::async(std::launch::async,
                              [&listener] { return std::make_unique<qmgl_socket>(listener); });
  qmgl_socket client(echo.c_str(), "127.0.0.1");
  ASSERT_EQ(accepting.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  client.doSelectWait(1);
  trace_capture capture(0x8);
  wygl::os::set_last_socket_error(wsaetimedout);
  std::optional<unsigned long> thrown;
  try {
    char byte = 0;
    client.read(&byte, 1);
  } catch (unsigned long code) {
    thrown = code;
  }
  EXPECT_EQ(thrown, std::optional<unsigned long>(wsaetimedout));
  EXPECT_EQ(wygl::os::last_socket_error(), wsaetimedout);
  auto const records = capture.take();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].data.substr(records[0].data.find(')')),
            ") Select selcRC=0(0x0)rc=10060\n" + system_text(wsaetimedout));
}

}  // namespace
