// The POSIX backend's errno maps and its message table, which stands in for the system's.

#include <cerrno>
#include <cstdint>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "os/error_text.h"
#include "os/posix/errno_map.h"

namespace {

using wygl::os::socket_error_from_addrinfo;
using wygl::os::socket_error_from_errno;
using wygl::os::windows_error_from_errno;

bool has_text(std::uint32_t code) {
  std::string text;
  return wygl::os::system_error_text(code, text);
}

// Every errno value the system may have, and more.
constexpr int errno_limit = 4096;

}  // namespace

TEST(ErrorTablePosix, ErrnoMapsGiveTheWindowsNumbers) {
  EXPECT_EQ(windows_error_from_errno(0), 0u);
  EXPECT_EQ(windows_error_from_errno(ENOENT), 2u);
  EXPECT_EQ(windows_error_from_errno(ENOTDIR), 3u);
  EXPECT_EQ(windows_error_from_errno(EACCES), 5u);
  EXPECT_EQ(windows_error_from_errno(EBADF), 6u);
  EXPECT_EQ(windows_error_from_errno(ENOMEM), 8u);
  EXPECT_EQ(windows_error_from_errno(EAGAIN), 33u);
  EXPECT_EQ(windows_error_from_errno(EEXIST), 80u);
  EXPECT_EQ(windows_error_from_errno(EINVAL), 87u);
  EXPECT_EQ(windows_error_from_errno(EPIPE), 109u);
  EXPECT_EQ(windows_error_from_errno(ENOSPC), 112u);
  EXPECT_EQ(windows_error_from_errno(EMFILE), 4u);
  EXPECT_EQ(windows_error_from_errno(errno_limit + 1), 31u) << "no Windows counterpart";

  EXPECT_EQ(socket_error_from_errno(0), 0u);
  EXPECT_EQ(socket_error_from_errno(EINTR), 10004u);
  EXPECT_EQ(socket_error_from_errno(EBADF), 10038u) << "a closed handle is not a socket";
  EXPECT_EQ(socket_error_from_errno(ENOTSOCK), 10038u);
  EXPECT_EQ(socket_error_from_errno(EAGAIN), 10035u);
  EXPECT_EQ(socket_error_from_errno(EWOULDBLOCK), 10035u);
  EXPECT_EQ(socket_error_from_errno(EINPROGRESS), 10035u);
  EXPECT_EQ(socket_error_from_errno(EADDRINUSE), 10048u);
  EXPECT_EQ(socket_error_from_errno(ENETUNREACH), 10051u);
  EXPECT_EQ(socket_error_from_errno(ECONNRESET), 10054u);
  EXPECT_EQ(socket_error_from_errno(ENOTCONN), 10057u);
  EXPECT_EQ(socket_error_from_errno(EPIPE), 10058u);
  EXPECT_EQ(socket_error_from_errno(ETIMEDOUT), 10060u);
  EXPECT_EQ(socket_error_from_errno(ECONNREFUSED), 10061u);
  EXPECT_EQ(socket_error_from_errno(EHOSTUNREACH), 10065u);
  EXPECT_EQ(socket_error_from_errno(errno_limit + 1), 10107u) << "no Winsock counterpart";

  EXPECT_EQ(socket_error_from_addrinfo(0, ECONNREFUSED), 0u);
}

TEST(ErrorTablePosix, EveryNumberTheMapsGiveHasAText) {
  std::set<std::uint32_t> produced;
  for (int e = 1; e <= errno_limit; ++e) {
    produced.insert(windows_error_from_errno(e));
    produced.insert(socket_error_from_errno(e));
  }
  // Name lookup results are small negative numbers; the system's own errno joins some.
  for (int result = -1000; result <= 1000; ++result)
    if (result != 0) produced.insert(socket_error_from_addrinfo(result, ECONNREFUSED));
  EXPECT_GT(produced.size(), 60u);
  for (std::uint32_t code : produced)
    EXPECT_TRUE(has_text(code)) << code;
  // The named objects report this one themselves.
  EXPECT_TRUE(has_text(183));
}

TEST(ErrorTablePosix, TextsHaveTheShapeOfTheSystemsTexts) {
  int texts = 0;
  for (std::uint32_t code = 0; code <= 20000; ++code) {
    std::string text;
    if (!wygl::os::system_error_text(code, text)) continue;
    ++texts;
    SCOPED_TRACE(code);
    ASSERT_GE(text.size(), 4u);
    EXPECT_TRUE(text[0] >= 'A' && text[0] <= 'Z') << text;
    EXPECT_EQ(text.substr(text.size() - 3), ".\r\n") << text;
    for (std::size_t i = 0; i + 2 < text.size(); ++i)
      EXPECT_TRUE(text[i] >= 0x20 && text[i] < 0x7F) << "printable ASCII: " << text;
  }
  EXPECT_GT(texts, 90);
  std::string text;
  EXPECT_FALSE(wygl::os::system_error_text(0xFFFFFFFF, text));
  EXPECT_FALSE(wygl::os::system_error_text(0x20030022, text));
}
