// Below the socket classes: the services file reader and the port's byte order.

#include <cstdint>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "os/last_error.h"
#include "qmgl/qmgl_services.h"
#include "support/loopback_services.h"

namespace {

using wygl::find_service_port;

constexpr std::uint32_t wsano_data = 11004;

std::optional<std::uint16_t> port(std::uint16_t value) {
  return value;
}

TEST(Socket, AServicesLineNamesAPortByItsNameOrAnAlias) {
  std::string const text =
      "# name  port/protocol  aliases\n"
      "echo\t7/tcp\n"
      "gateway 4100/tcp router relay  # comment, gateway gateway\n"
      "http 80/udp www\r\n"
      "last 9/tcp";
  EXPECT_EQ(find_service_port(text, "echo"), port(7));
  EXPECT_EQ(find_service_port(text, "gateway"), port(4100));
  EXPECT_EQ(find_service_port(text, "relay"), port(4100));
  EXPECT_EQ(find_service_port(text, "www"), port(80)) << "any protocol, a line ending in CR LF";
  EXPECT_EQ(find_service_port(text, "last"), port(9)) << "a last line without its line end";
  EXPECT_EQ(find_service_port(text, "comment,"), std::nullopt) << "words of a comment";
  EXPECT_EQ(find_service_port(text, "ech"), std::nullopt);
  EXPECT_EQ(find_service_port(text, "7"), std::nullopt) << "a port is no name";
  EXPECT_EQ(find_service_port(text, ""), std::nullopt);
}

TEST(Socket, TheFirstMatchingLineCountsAndMalformedLinesAreSkipped) {
  std::string const text =
      "alpha 70000/tcp\n"  // beyond the ports
      "alpha 12x/tcp\n"    // not a number
      "alpha 12\n"         // no protocol
      "alpha /tcp\n"       // no port
      "alpha 13/\n"        // no protocol after the slash
      "#alpha 14/tcp\n"    // commented out
      "alpha 15/tcp\n"
      "alpha 16/tcp\n"
      "8080 8081/tcp\n";
  EXPECT_EQ(find_service_port(text, "alpha"), port(15));
  EXPECT_EQ(find_service_port(text, "8080"), port(8081)) << "a number is looked up as a name";
}

TEST(Socket, PortsGoOutMostSignificantByteFirst) {
  std::uint16_t const ordered = wygl::network_order(0x1234);
  auto const* bytes = reinterpret_cast<unsigned char const*>(&ordered);
  EXPECT_EQ(bytes[0], 0x12);
  EXPECT_EQ(bytes[1], 0x34);
}

TEST(Socket, TheServicesFileComesBeforeTheSystemsDatabase) {
  loopback_services services;
  std::string const named = services.add("http", 4321);
  std::uint16_t found = 0;
  ASSERT_TRUE(wygl::service_port(named.c_str(), found));
  EXPECT_EQ(found, wygl::network_order(4321));

  wygl::os::set_last_socket_error(0);
  EXPECT_FALSE(wygl::service_port("no-such-service", found));
  EXPECT_EQ(wygl::os::last_socket_error(), wsano_data)
      << "a name that neither the file nor the system holds";
  EXPECT_FALSE(wygl::service_port(nullptr, found));
  EXPECT_EQ(wygl::os::last_socket_error(), wsano_data);
}

}  // namespace
