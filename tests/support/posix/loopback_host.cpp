// The POSIX half of loopback_host.h.

#include "support/loopback_host.h"

#include <cstdlib>
#include <stdexcept>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

unsigned short free_loopback_port() {
  int const fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("no socket for a free port");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bool const found = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0;
  ::close(fd);
  if (!found) throw std::runtime_error("no free loopback port");
  return ntohs(address.sin_port);
}

std::string this_host_name() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) throw std::runtime_error("no host name");
  return name;
}

void set_environment_value(char const* name, char const* value) {
  if (value != nullptr)
    ::setenv(name, value, 1);
  else
    ::unsetenv(name);
}
