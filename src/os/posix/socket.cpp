#include "os/socket.h"

#include <cerrno>
#include <chrono>
#include <climits>

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include "os/error_codes.h"
#include "os/last_error.h"
#include "os/posix/errno_map.h"

namespace wygl::os {
namespace {

// Descriptors are small non-negative numbers; a handle beyond int is none, and every call
// rejects -1 with EBADF.
int fd_of(socket_handle socket) noexcept {
  return socket <= static_cast<socket_handle>(INT_MAX) ? static_cast<int>(socket) : -1;
}

int failed() noexcept {
  set_last_socket_error(socket_error_from_errno(errno));
  return socket_error;
}

socket_handle failed_handle() noexcept {
  failed();
  return invalid_socket;
}

sockaddr_in native_address(ipv4_address const& address) noexcept {
  sockaddr_in native{};
  native.sin_family = AF_INET;
  native.sin_port = address.port;
  native.sin_addr.s_addr = address.address;
  return native;
}

// A connect interrupted by a signal goes on in the background; its outcome is waited for
// here, as a blocking Winsock connect would wait.
int finish_interrupted_connect(int fd) noexcept {
  pollfd ready{fd, POLLOUT, 0};
  int polled;
  do {
    polled = ::poll(&ready, 1, -1);
  } while (polled < 0 && errno == EINTR);
  if (polled < 0) return failed();
  int outcome = 0;
  socklen_t size = sizeof outcome;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &outcome, &size) != 0) return failed();
  if (outcome == 0) return 0;
  errno = outcome;
  return failed();
}

}  // namespace

// Nothing to start: the calls below need no set-up, and send asks for no SIGPIPE itself.
int start_sockets() noexcept {
  return 0;
}

void stop_sockets() noexcept {}

// Sockets are not passed on to programs that this process starts: a child holding a copy
// would keep a connection or a listening port open after the library closed it.
socket_handle open_tcp_socket() noexcept {
  int const fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  return fd >= 0 ? static_cast<socket_handle>(fd) : failed_handle();
}

int set_socket_option(socket_handle socket, socket_option option, int value) noexcept {
  int const name = option == socket_option::reuse_address ? SO_REUSEADDR : SO_KEEPALIVE;
  if (::setsockopt(fd_of(socket), SOL_SOCKET, name, &value, sizeof value) != 0) return failed();
  return 0;
}

int bind_socket(socket_handle socket, ipv4_address const& address) noexcept {
  sockaddr_in const native = native_address(address);
  if (::bind(fd_of(socket), reinterpret_cast<sockaddr const*>(&native), sizeof native) != 0)
    return failed();
  return 0;
}

int listen_on_socket(socket_handle socket, int backlog) noexcept {
  return ::listen(fd_of(socket), backlog) != 0 ? failed() : 0;
}

socket_handle accept_connection(socket_handle listening) noexcept {
  sockaddr_in peer{};
  int fd;
  do {
    socklen_t size = sizeof peer;
    fd = ::accept4(fd_of(listening), reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd >= 0 ? static_cast<socket_handle>(fd) : failed_handle();
}

int connect_socket(socket_handle socket, ipv4_address const& address) noexcept {
  sockaddr_in const native = native_address(address);
  int const fd = fd_of(socket);
  if (::connect(fd, reinterpret_cast<sockaddr const*>(&native), sizeof native) == 0) return 0;
  return errno == EINTR ? finish_interrupted_connect(fd) : failed();
}

int receive(socket_handle socket, void* buffer, int length) noexcept {
  ssize_t received;
  do {
    received = ::recv(fd_of(socket), buffer, static_cast<size_t>(length), 0);
  } while (received < 0 && errno == EINTR);
  return received >= 0 ? static_cast<int>(received) : failed();
}

int send_bytes(socket_handle socket, void const* buffer, int length) noexcept {
  ssize_t sent;
  do {
    sent = ::send(fd_of(socket), buffer, static_cast<size_t>(length), MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent >= 0 ? static_cast<int>(sent) : failed();
}

// poll rather than select: select cannot take descriptors above FD_SETSIZE. An interrupted
// wait goes on for the time that is left.
int wait_readable(socket_handle socket, int seconds) noexcept {
  using std::chrono::steady_clock;
  steady_clock::time_point const deadline =
      steady_clock::now() + std::chrono::seconds(seconds > 0 ? seconds : 0);
  for (;;) {
    auto const left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - steady_clock::now()).count();
    int const left_ms = left <= 0 ? 0 : left < INT_MAX ? static_cast<int>(left) : INT_MAX;
    pollfd ready{fd_of(socket), POLLIN | POLLPRI, 0};
    int const polled = ::poll(&ready, 1, left_ms);
    if (polled > 0 && (ready.revents & POLLNVAL) != 0) {
      errno = EBADF;
      return failed();
    }
    if (polled >= 0) return polled;
    if (errno != EINTR) return failed();
  }
}

int shut_down_socket(socket_handle socket) noexcept {
  return ::shutdown(fd_of(socket), SHUT_RDWR) != 0 ? failed() : 0;
}

// close is not repeated after EINTR: the descriptor is released either way.
int close_socket(socket_handle socket) noexcept {
  return ::close(fd_of(socket)) != 0 ? failed() : 0;
}

int local_host_name(char* name, int size) noexcept {
  return ::gethostname(name, static_cast<size_t>(size)) != 0 ? failed() : 0;
}

std::uint32_t parse_ipv4_address(char const* text) noexcept {
  return ::inet_addr(text);
}

// getaddrinfo rather than gethostbyname, which shares one result among all threads.
bool host_address(char const* host, std::uint32_t& address) noexcept {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int const result = ::getaddrinfo(host, nullptr, &hints, &found);
  if (result != 0) {
    set_last_socket_error(socket_error_from_addrinfo(result, errno));
    return false;
  }
  address = reinterpret_cast<sockaddr_in const*>(found->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(found);
  return true;
}

// getservbyname_r, since getservbyname shares one result among all threads. A name the
// database does not hold gives WSANO_DATA, as Windows reports it.
bool database_service_port(char const* service, std::uint16_t& port) noexcept {
  servent entry{};
  servent* found = nullptr;
  char buffer[4096];
  int const result = ::getservbyname_r(service, nullptr, &entry, buffer, sizeof buffer, &found);
  if (result != 0 || found == nullptr) {
    bool const absent = result == 0 || result == ERANGE;
    set_last_socket_error(absent ? err::wsano_data : socket_error_from_errno(result));
    return false;
  }
  port = static_cast<std::uint16_t>(found->s_port);
  return true;
}

}  // namespace wygl::os
