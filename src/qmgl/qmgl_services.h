// Service names to ports: the file named by WYGL_SERVICES first, then the system's database.
//
// The file has the layout of the system's services file (services(5)): one service a line,
// "name port/protocol [aliases...]", fields separated by blanks, "#" starting a comment that
// runs to the end of the line. A service matches by its name or one of its aliases, for any
// protocol; the first matching line counts. Lines that do not have this shape are skipped, as
// the system's own reader skips them. A port is a name like any other: "8080" is found only
// when some line is named (or aliased) "8080".

#ifndef WYGL_SRC_QMGL_QMGL_SERVICES_H
#define WYGL_SRC_QMGL_QMGL_SERVICES_H

#include <cstdint>
#include <optional>
#include <string_view>

namespace wygl {

// The environment variable that names the library's own services file.
inline constexpr char services_variable[] = "WYGL_SERVICES";

// The port of service in services_text, which has the layout of a services file, in host
// byte order; nothing when no line names it.
std::optional<std::uint16_t> find_service_port(std::string_view services_text,
                                               std::string_view service);

// The port of service in network byte order, looked up in the WYGL_SERVICES file (when the
// variable is set and the file can be read) and then in the system's database. False when
// neither has the name; the thread's last socket error then says why (WSANO_DATA 11004 for a
// name that neither holds). May throw std::bad_alloc.
bool service_port(char const* service, std::uint16_t& port);

// A port in host byte order as the network orders it (most significant byte first).
std::uint16_t network_order(std::uint16_t port) noexcept;

}  // namespace wygl

#endif  // WYGL_SRC_QMGL_QMGL_SERVICES_H
