// Share modes of the POSIX backend: what one opener of a regular file denies the others.
//
// Windows keeps, for every open file, what its openers may do (read, write) and what they
// deny each other, and refuses an open that conflicts with either. Here every opener of a file
// through this library marks its own open file description with byte-range locks
// (F_OFD_SETLK) far beyond any data the file can hold, one lock range for each of four
// markers: "has read access", "has write access", "denies read", "denies write". A new opener
// first takes its own markers, then looks for the opposite markers of others; taking before
// looking means that of two conflicting openers racing each other, at least one sees the other.
//
// Each opener holds its markers on a byte of its own within each range, since a descriptor
// open only for writing can hold only exclusive locks; descriptors that can read share one
// byte where they can. The kernel drops the locks when the last descriptor of the open file
// description is closed, also when the process dies, so duplicated and inherited handles keep
// the share modes of their file as they do on Windows.
//
// Programs that open the file without this library are not held to the share modes. On file
// systems without these locks the share modes are not enforced.

#ifndef WYGL_SRC_OS_POSIX_FILE_SHARE_H
#define WYGL_SRC_OS_POSIX_FILE_SHARE_H

#include <cstdint>

namespace wygl::os::posix {

// Takes the share markers for the open file description of fd, a regular file just opened
// with access (file_read_access, file_write_access) and share (file_share_read,
// file_share_write) as in os/file.h. about_to_truncate counts as writing for the conflict test,
// as emptying a file is writing to it. True when the open may proceed; false, with the last
// error ERROR_SHARING_VIOLATION (32), when it conflicts with another opener: the caller then
// closes fd, which drops the markers taken so far.
bool claim_share(int fd, std::uint32_t access, std::uint32_t share,
                 bool about_to_truncate) noexcept;

}  // namespace wygl::os::posix

#endif  // WYGL_SRC_OS_POSIX_FILE_SHARE_H
