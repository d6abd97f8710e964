// The POSIX backend's errno maps and its message table, which stands in for the system's.

#include <cerrno>
#include <cstdint>
#include <iterator>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "os/error_text.h"
#include "os/posix/errno_map.h"

using wygl::os::socket_error_from_addrinfo;
using wygl::os::socket_error_from_errno;
using wygl::os::windows_error_from_errno;

namespace {

constexpr int errno_limit = 4096;  // every errno value the system may have, and more

}  // namespace

TEST(ErrorTablePosix, ErrnoMapsGiveTheWindowsNumbers) {
  // Pairs of an errno value and its number. errno_limit + 1 has no counterpart; a closed handle
  // (EBADF) is not a socket.
  long const windows[] = {0,      0,   ENOENT, 2,  ENOTDIR,         3,  EACCES, 5,  EBADF, 6,
                          ENOMEM, 8,   EAGAIN, 33, EEXIST,          80, EINVAL, 87, EPIPE, 109,
                          ENOSPC, 112, EMFILE, 4,  errno_limit + 1, 31};
  long const sockets[] = {
      0,         0,     EINTR,        10004, EBADF,        10038, ENOTSOCK,        10038,
      EAGAIN,    10035, EWOULDBLOCK,  10035, EINPROGRESS,  10035, EADDRINUSE,      10048,
      EPIPE,     10058, ENETUNREACH,  10051, ECONNRESET,   10054, ENOTCONN,        10057,
      ETIMEDOUT, 10060, ECONNREFUSED, 10061, EHOSTUNREACH, 10065, errno_limit + 1, 10107};
  for (std::size_t i = 0; i < std::size(windows); i += 2)
    EXPECT_EQ(windows_error_from_errno(int(windows[i])), std::uint32_t(windows[i + 1])) << i;
  for (std::size_t i = 0; i < std::size(sockets); i += 2)
    EXPECT_EQ(socket_error_from_errno(int(sockets[i])), std::uint32_t(sockets[i + 1])) << i;
  EXPECT_EQ(socket_error_from_addrinfo(0, ECONNREFUSED), 0u);
}

TEST(ErrorTablePosix, EveryNumberTheMapsGiveHasAText) {
  std::set<std::uint32_t> produced = {183};  // the named objects report this one themselves
  for (int e = 1; e <= errno_limit; ++e)
    produced.insert({windows_error_from_errno(e), socket_error_from_errno(e)});
  // Name lookup results are small negative numbers; the system's own errno joins some.
  for (int result = -1000; result <= 1000; ++result)
    if (result != 0) produced.insert(socket_error_from_addrinfo(result, ECONNREFUSED));
  EXPECT_GT(produced.size(), 60u);
  std::string text;
  for (std::uint32_t code : produced)
    EXPECT_TRUE(wygl::os::system_error_text(code, text)) << code;
  text = "left over";
  EXPECT_FALSE(wygl::os::system_error_text(0xFFFFFFFF, text));
  EXPECT_EQ(text, "");
  EXPECT_FALSE(wygl::os::system_error_text(0x20030022, text));
}
