// wygl_kv_free_port: prints a TCP port of 127.0.0.1 that is free now (the system's choice for
// port 0), for the demonstration, which names it in a services file. POSIX half.

#include <cstdio>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

int main() {
  int const fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bool const found = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0;
  ::close(fd);
  if (!found) {
    std::fprintf(stderr, "wygl_kv_free_port: no free loopback port\n");
    return 1;
  }
  std::printf("%u\n", static_cast<unsigned>(ntohs(address.sin_port)));
  return 0;
}
