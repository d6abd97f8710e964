// wygl_kv_free_port: prints a TCP port of 127.0.0.1 that is free now (the system's choice for
// port 0), for the demonstration, which names it in a services file. Windows half.

#include <cstdio>

#include <windows.h>
#include <winsock2.h>

int main() {
  WSADATA started;
  if (WSAStartup(MAKEWORD(2, 0), &started) != 0) return 1;
  SOCKET const s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int size = sizeof address;
  bool const found = s != INVALID_SOCKET &&
                     ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0;
  if (s != INVALID_SOCKET) ::closesocket(s);
  WSACleanup();
  if (!found) {
    std::fprintf(stderr, "wygl_kv_free_port: no free loopback port\n");
    return 1;
  }
  std::printf("%u\n", static_cast<unsigned>(ntohs(address.sin_port)));
  return 0;
}
