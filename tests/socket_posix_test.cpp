// Below the socket classes: the services file reader, and what POSIX sockets add.

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>
#include <wygl/qmgl_socket.h>

#include "os/last_error.h"
#include "qmgl/qmgl_services.h"
#include "support/loopback_services.h"

// A port by its name or alias, any protocol; the first line counts, other lines are skipped.
TEST(Socket, AServicesLineNamesAPortByItsNameOrAnAlias) {
  std::string const text =
      "# name  port/protocol  aliases\necho\t7/tcp\n"
      "gateway 4100/tcp router relay  # comment, gateway gateway\nhttp 80/udp www\r\n"
      "alpha 70000/tcp\nalpha 12x/tcp\nalpha 12\nalpha /tcp\nalpha 13/\n#alpha 14/tcp\n"
      "alpha 15/tcp\nalpha 16/tcp\n8080 8081/tcp\nlast 9/tcp";  // without its line end
  std::pair<char const*, std::optional<std::uint16_t>> const cases[] = {
      {"echo", 7},           {"gateway", 4100},   {"relay", 4100},   {"www", 80},
      {"last", 9},           {"alpha", 15},       {"8080", 8081},    {"comment,", std::nullopt},
      {"ech", std::nullopt}, {"7", std::nullopt}, {"", std::nullopt}};
  for (auto const& [name, port] : cases)
    EXPECT_EQ(wygl::find_service_port(text, name), port) << name;
}

// A time-out sets no error of its own, as Windows documents for select: the code thrown is the
// thread's last socket error, which it keeps. (Wine's select clears the error on a time-out.)
TEST(Socket, ATimedOutSelectWaitThrowsTheThreadsLastSocketError) {
  loopback_services services;
  std::string const echo = services.add("echo");
  qmgl_socket_factory listener(echo.c_str(), qmgl_socket_factory::tcp);
  auto accepting = std::async(std::launch::async,
                              [&listener] { return std::make_unique<qmgl_socket>(listener); });
  qmgl_socket client(echo.c_str(), "127.0.0.1");
  ASSERT_EQ(accepting.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  client.doSelectWait(1);
  wygl::os::set_last_socket_error(10060);  // WSAETIMEDOUT
  unsigned long thrown = 0;
  try {
    char byte = 0;
    client.read(&byte, 1);
  } catch (unsigned long code) {
    thrown = code;
  }
  EXPECT_EQ(thrown, 10060u);
  EXPECT_EQ(wygl::os::last_socket_error(), 10060u);
}
