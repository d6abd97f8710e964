// Below the socket classes: the services file reader and the port's byte order.

#include <cstdint>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "os/last_error.h"
#include "qmgl/qmgl_services.h"
#include "support/loopback_services.h"

namespace {

// A services line names a port by its name or an alias, for any protocol; the first line that
// names it counts, and lines that are no services line are skipped.
TEST(Socket, AServicesLineNamesAPortByItsNameOrAnAlias) {
  std::string const text =
      "# name  port/protocol  aliases\n"
      "echo\t7/tcp\n"
      "gateway 4100/tcp router relay  # comment, gateway gateway\n"
      "http 80/udp www\r\n"
      "alpha 70000/tcp\n"  // beyond the ports
      "alpha 12x/tcp\n"
      "alpha 12\n"
      "alpha /tcp\n"
      "alpha 13/\n"
      "#alpha 14/tcp\n"
      "alpha 15/tcp\n"
      "alpha 16/tcp\n"
      "8080 8081/tcp\n"
      "last 9/tcp";  // without its line end
  std::pair<char const*, std::optional<std::uint16_t>> const cases[] = {
      {"echo", 7},           {"gateway", 4100},   {"relay", 4100},   {"www", 80},
      {"last", 9},           {"alpha", 15},       {"8080", 8081},    {"comment,", std::nullopt},
      {"ech", std::nullopt}, {"7", std::nullopt}, {"", std::nullopt}};
  for (auto const& [name, port] : cases)
    EXPECT_EQ(wygl::find_service_port(text, name), port) << name;
}

// The services file comes before the system's database; ports go out most significant byte
// first.
TEST(Socket, TheServicesFileComesBeforeTheSystemsDatabase) {
  loopback_services services;
  std::string const named = services.add("http", 0x1234);
  std::uint16_t found = 0;
  ASSERT_TRUE(wygl::service_port(named.c_str(), found));
  auto const* bytes = reinterpret_cast<unsigned char const*>(&found);
  EXPECT_EQ(bytes[0], 0x12);
  EXPECT_EQ(bytes[1], 0x34);
  for (char const* unknown : {"no-such-service", static_cast<char const*>(nullptr)}) {
    wygl::os::set_last_socket_error(0);
    EXPECT_FALSE(wygl::service_port(unknown, found));
    EXPECT_EQ(wygl::os::last_socket_error(), 11004u);  // WSANO_DATA
  }
}

}  // namespace
