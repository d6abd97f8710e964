// TCP over IPv4, in the vocabulary of Windows Sockets.
//
// The Windows backend calls Winsock; the POSIX backend calls BSD sockets and keeps the Winsock
// conventions: handles are 32-bit values (a file descriptor here), failures return
// socket_error (-1) or invalid_socket and leave a Winsock error number (WSAECONNREFUSED 10061,
// ...) as the calling thread's last socket error (os/last_error.h). Addresses and ports stay in
// network byte order, as Winsock hands them over.

#ifndef WYGL_SRC_OS_SOCKET_H
#define WYGL_SRC_OS_SOCKET_H

#include <cstdint>

namespace wygl::os {

using socket_handle = std::uint32_t;
inline constexpr socket_handle invalid_socket = 0xFFFFFFFFu;
inline constexpr int socket_error = -1;

inline constexpr std::uint16_t address_family_inet = 2;
// An IPv4 address of no particular interface: every local address when listening.
inline constexpr std::uint32_t any_address = 0;
inline constexpr std::uint32_t no_address = 0xFFFFFFFFu;

// The 16-byte IPv4 socket address: the family, the port and the address in network byte
// order, then eight bytes of zero.
struct ipv4_address {
  std::uint16_t family = address_family_inet;
  std::uint16_t port = 0;
  std::uint32_t address = any_address;
  std::uint8_t zero[8] = {};
};
static_assert(sizeof(ipv4_address) == 16);

// Starts the socket layer (WSAStartup, version 2.0) once for the library, and stops it when
// the library is unloaded. Returns 0 or the start-up's error number.
int start_sockets() noexcept;
void stop_sockets() noexcept;

// A stream socket of the Internet family (AF_INET, SOCK_STREAM, protocol 0), or
// invalid_socket.
socket_handle open_tcp_socket() noexcept;

// The SOL_SOCKET options the library sets.
enum class socket_option { reuse_address, keep_alive };
// setsockopt with an int value: 0, or socket_error.
int set_socket_option(socket_handle socket, socket_option option, int value) noexcept;

int bind_socket(socket_handle socket, ipv4_address const& address) noexcept;
int listen_on_socket(socket_handle socket, int backlog) noexcept;
// The next connection on a listening socket, or invalid_socket. Blocks; the peer's address
// is not kept.
socket_handle accept_connection(socket_handle listening) noexcept;
int connect_socket(socket_handle socket, ipv4_address const& address) noexcept;

// recv and send with no flags: the count of bytes moved (recv: 0 once the peer has closed its
// side), or socket_error. Sending on a connection that the peer has closed fails with an
// error; it never raises a signal.
int receive(socket_handle socket, void* buffer, int length) noexcept;
int send_bytes(socket_handle socket, void const* buffer, int length) noexcept;

// select on the one socket, for reading and exceptional conditions, for at most seconds: 1
// when the socket is ready, 0 when the time ran out (the last socket error is then left as it
// was), socket_error on failure.
int wait_readable(socket_handle socket, int seconds) noexcept;

// shutdown in both directions, and closesocket: 0, or socket_error.
int shut_down_socket(socket_handle socket) noexcept;
int close_socket(socket_handle socket) noexcept;

// gethostname into name, which has room for size bytes: 0, or socket_error.
int local_host_name(char* name, int size) noexcept;
// inet_addr: the dotted IPv4 address in network byte order, or no_address.
std::uint32_t parse_ipv4_address(char const* text) noexcept;
// The first IPv4 address of host (gethostbyname), in network byte order. False on failure.
bool host_address(char const* host, std::uint32_t& address) noexcept;
// The port of service, for any protocol, from the system's services database (getservbyname
// with a null protocol), in network byte order. False when the database has no such name.
bool database_service_port(char const* service, std::uint16_t& port) noexcept;

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_SOCKET_H
