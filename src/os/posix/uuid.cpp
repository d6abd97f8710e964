#include "os/uuid.h"

#include <cerrno>

#include <sys/random.h>

#include "os/posix/errno_map.h"

namespace wygl::os {
namespace {

// Fills bytes from the kernel's generator. An interrupted call is repeated; a call cut short
// by a signal goes on where it stopped.
int fill_random(unsigned char* bytes, std::size_t count) noexcept {
  std::size_t done = 0;
  while (done < count) {
    ssize_t const got = getrandom(bytes + done, count - done, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<std::size_t>(got);
  }
  return 0;
}

}  // namespace

std::uint32_t new_uuid_text(uuid_text& out) noexcept {
  unsigned char bytes[16];
  int const error = fill_random(bytes, sizeof bytes);
  if (error != 0) return windows_error_from_errno(error);
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4: random
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // variant 10: RFC 4122
  static constexpr char digits[] = "0123456789abcdef";
  char* p = out.text;
  for (std::size_t i = 0; i < sizeof bytes; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) *p++ = '-';
    *p++ = digits[bytes[i] >> 4];
    *p++ = digits[bytes[i] & 0x0F];
  }
  *p = '\0';
  return 0;
}

}  // namespace wygl::os
