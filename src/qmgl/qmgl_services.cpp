#include "qmgl/qmgl_services.h"

#include <bit>
#include <charconv>
#include <fstream>
#include <sstream>
#include <string>

#include <wygl/qmgl_env.h>

#include "os/socket.h"

namespace wygl {
namespace {

constexpr std::string_view blanks = " \t\r\v\f";

// The next blank-separated field of line from position at, which moves past it; empty at the
// end of the line.
std::string_view next_field(std::string_view line, std::size_t& at) {
  std::size_t const start = line.find_first_not_of(blanks, at);
  if (start == std::string_view::npos) {
    at = line.size();
    return {};
  }
  std::size_t end = line.find_first_of(blanks, start);
  if (end == std::string_view::npos) end = line.size();
  at = end;
  return line.substr(start, end - start);
}

// "port/protocol": the port, when it is a decimal number below 65536 followed by a protocol.
std::optional<std::uint16_t> port_of(std::string_view field) {
  std::size_t const slash = field.find('/');
  if (slash == std::string_view::npos || slash == 0 || slash + 1 == field.size()) return {};
  unsigned port = 0;
  char const* const first = field.data();
  char const* const last = first + slash;
  auto const [end, failure] = std::from_chars(first, last, port);
  if (failure != std::errc() || end != last || port > 0xFFFF) return {};
  return static_cast<std::uint16_t>(port);
}

// The port a services line gives service, if its name or one of its aliases is service.
std::optional<std::uint16_t> port_in_line(std::string_view line, std::string_view service) {
  line = line.substr(0, line.find('#'));
  std::size_t at = 0;
  std::string_view const name = next_field(line, at);
  std::optional<std::uint16_t> const port = port_of(next_field(line, at));
  if (name.empty() || !port) return {};
  for (std::string_view alias = name; !alias.empty(); alias = next_field(line, at))
    if (alias == service) return port;
  return {};
}

std::optional<std::uint16_t> port_in_services_file(std::string_view service) {
  char const* const file_name = qmgl_env_get(services_variable);
  if (file_name == nullptr || *file_name == '\0') return {};
  std::ifstream file(file_name, std::ios::binary);
  if (!file) return {};
  std::ostringstream text;
  text << file.rdbuf();
  return find_service_port(text.str(), service);
}

}  // namespace

std::optional<std::uint16_t> find_service_port(std::string_view services_text,
                                               std::string_view service) {
  if (service.empty()) return {};
  while (!services_text.empty()) {
    std::size_t const end = services_text.find('\n');
    std::string_view const line = services_text.substr(0, end);
    if (std::optional<std::uint16_t> const port = port_in_line(line, service)) return port;
    if (end == std::string_view::npos) break;
    services_text.remove_prefix(end + 1);
  }
  return {};
}

bool service_port(char const* service, std::uint16_t& port) {
  if (service != nullptr) {
    if (std::optional<std::uint16_t> const found = port_in_services_file(service)) {
      port = network_order(*found);
      return true;
    }
  }
  return os::database_service_port(service != nullptr ? service : "", port);
}

std::uint16_t network_order(std::uint16_t port) noexcept {
  if constexpr (std::endian::native == std::endian::big) return port;
  return static_cast<std::uint16_t>((port << 8) | (port >> 8));
}

}  // namespace wygl
