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
// None of the share modes allows deletion: removing or renaming a file takes the markers
// that deny reading and writing for as long as the name changes (deletion_hold), so that it
// fails while any opener holds the file, and an opener that comes meanwhile fails instead.
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

// Holds a regular file against the openers of this library while its name is removed or
// renamed, as Windows opens a file for deletion. Released by release() or the destructor.
class deletion_hold {
 public:
  deletion_hold() noexcept = default;
  ~deletion_hold() { release(); }
  deletion_hold(deletion_hold const&) = delete;
  deletion_hold& operator=(deletion_hold const&) = delete;

  // False, with ERROR_SHARING_VIOLATION (32) as the last error, when an opener holds the file
  // that path names. True otherwise, holding nothing when path names no regular file that
  // this process can open (a symbolic link is itself, not its target): the name operation
  // then meets whatever the system says.
  bool take(char const* path) noexcept;
  void release() noexcept;

 private:
  int _fd = -1;
};

}  // namespace wygl::os::posix

#endif  // WYGL_SRC_OS_POSIX_FILE_SHARE_H
