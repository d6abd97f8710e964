// New universally unique identifiers, in the text form of the RPC runtime: 36 characters,
// 32 lower-case hexadecimal digits in groups of 8, 4, 4, 4 and 12 joined by hyphens.
//
// The Windows backend asks the RPC runtime (UuidCreate, UuidToStringA). The POSIX backend
// makes a random (version 4) UUID from 16 bytes of getrandom: the version nibble is 4 and the
// variant bits are 10, as RFC 4122 has them, so the two backends make the same kind.

#ifndef WYGL_SRC_OS_UUID_H
#define WYGL_SRC_OS_UUID_H

#include <cstddef>
#include <cstdint>

namespace wygl::os {

inline constexpr std::size_t uuid_text_length = 36;

struct uuid_text {
  char text[uuid_text_length + 1];  // NUL-terminated
};

// Makes a new UUID and writes its text to out. Returns 0, or the failure's status, which
// leaves out unspecified: an RPC status on Windows (every status but 0 counts as a failure,
// RPC_S_UUID_LOCAL_ONLY included), a Windows error number mapped from errno on POSIX.
// Thread safe.
std::uint32_t new_uuid_text(uuid_text& out) noexcept;

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_UUID_H
