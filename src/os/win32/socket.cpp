#include "os/socket.h"

#include <cstring>

#include "os/win32/windows_api.h"

namespace wygl::os {
namespace {

static_assert(AF_INET == address_family_inet);
static_assert(INADDR_NONE == no_address);

// Handles are kept in 32 bits; Windows gives socket handles that fit.
SOCKET native(socket_handle socket) noexcept {
  return socket == invalid_socket ? INVALID_SOCKET : static_cast<SOCKET>(socket);
}

socket_handle handle_of(SOCKET socket) noexcept {
  return socket == INVALID_SOCKET ? invalid_socket : static_cast<socket_handle>(socket);
}

sockaddr_in native_address(ipv4_address const& address) noexcept {
  sockaddr_in converted{};
  converted.sin_family = AF_INET;
  converted.sin_port = address.port;
  converted.sin_addr.s_addr = address.address;
  return converted;
}

}  // namespace

int start_sockets() noexcept {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 0), &data);
}

void stop_sockets() noexcept {
  WSACleanup();
}

socket_handle open_tcp_socket() noexcept {
  return handle_of(::socket(AF_INET, SOCK_STREAM, 0));
}

int set_socket_option(socket_handle socket, socket_option option, int value) noexcept {
  int const name = option == socket_option::reuse_address ? SO_REUSEADDR : SO_KEEPALIVE;
  return ::setsockopt(native(socket), SOL_SOCKET, name, reinterpret_cast<char const*>(&value),
                      sizeof value);
}

int bind_socket(socket_handle socket, ipv4_address const& address) noexcept {
  sockaddr_in const converted = native_address(address);
  return ::bind(native(socket), reinterpret_cast<sockaddr const*>(&converted), sizeof converted);
}

int listen_on_socket(socket_handle socket, int backlog) noexcept {
  return ::listen(native(socket), backlog);
}

socket_handle accept_connection(socket_handle listening) noexcept {
  sockaddr_in peer{};
  int size = sizeof peer;
  return handle_of(::accept(native(listening), reinterpret_cast<sockaddr*>(&peer), &size));
}

int connect_socket(socket_handle socket, ipv4_address const& address) noexcept {
  sockaddr_in const converted = native_address(address);
  return ::connect(native(socket), reinterpret_cast<sockaddr const*>(&converted), sizeof converted);
}

int receive(socket_handle socket, void* buffer, int length) noexcept {
  return ::recv(native(socket), static_cast<char*>(buffer), length, 0);
}

int send_bytes(socket_handle socket, void const* buffer, int length) noexcept {
  return ::send(native(socket), static_cast<char const*>(buffer), length, 0);
}

// The count of select is ignored by Winsock; 64 is its set size.
int wait_readable(socket_handle socket, int seconds) noexcept {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(native(socket), &set);
  timeval limit{seconds, 0};
  return ::select(64, &set, nullptr, &set, &limit);
}

int shut_down_socket(socket_handle socket) noexcept {
  return ::shutdown(native(socket), SD_BOTH);
}

int close_socket(socket_handle socket) noexcept {
  return ::closesocket(native(socket));
}

int local_host_name(char* name, int size) noexcept {
  return ::gethostname(name, size);
}

std::uint32_t parse_ipv4_address(char const* text) noexcept {
  return ::inet_addr(text);
}

bool host_address(char const* host, std::uint32_t& address) noexcept {
  hostent const* found = ::gethostbyname(host);
  if (found == nullptr) return false;
  std::memcpy(&address, found->h_addr_list[0], sizeof address);
  return true;
}

bool database_service_port(char const* service, std::uint16_t& port) noexcept {
  servent const* found = ::getservbyname(service, nullptr);
  if (found == nullptr) return false;
  port = static_cast<std::uint16_t>(found->s_port);
  return true;
}

}  // namespace wygl::os
