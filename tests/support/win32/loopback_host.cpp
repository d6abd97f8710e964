// The Windows half of loopback_host.h. The environment is set both in the runtime's copy,
// which getenv reads, and in the process's own block, which started programs inherit.

#include "support/loopback_host.h"

#include <cstdlib>
#include <stdexcept>

#include <windows.h>
#include <winsock2.h>

namespace {

// Winsock counts its users: this start and stop leave the library's own start alone.
class winsock_user {
 public:
  winsock_user() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 0), &data) != 0) throw std::runtime_error("no Winsock");
  }
  ~winsock_user() { WSACleanup(); }
  winsock_user(winsock_user const&) = delete;
  winsock_user& operator=(winsock_user const&) = delete;
};

}  // namespace

unsigned short free_loopback_port() {
  winsock_user const user;
  SOCKET const s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) throw std::runtime_error("no socket for a free port");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int size = sizeof address;
  bool const found = ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0;
  ::closesocket(s);
  if (!found) throw std::runtime_error("no free loopback port");
  return ntohs(address.sin_port);
}

std::string this_host_name() {
  winsock_user const user;
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) throw std::runtime_error("no host name");
  return name;
}

void set_environment_value(char const* name, char const* value) {
  _putenv_s(name, value != nullptr ? value : "");
  SetEnvironmentVariableA(name, value);
}
