// Open files: opening by name with a disposition, access and share mode; reading, writing,
// moving the position, cutting, flushing; the last-write time; the standard handles.
//
// The operations keep the shape and the results of the Windows calls they stand for
// (CreateFileA, ReadFile, SetFilePointer, ...), so that the library above behaves the same on
// every system. Each returns whether it succeeded; on failure the calling thread's last error
// (os/last_error.h) holds the reason in Windows numbering, and on success it is left alone
// unless said otherwise. None of them throws.
//
// The POSIX backend emulates what the library relies on:
//  - handles are file descriptors, carried in the pointer's bits (descriptor 2 is the handle
//    value 2); files opened by name are inherited by child processes, and neither they nor
//    duplicates take the numbers 0 to 2 of the standard handles, so that a standard handle the
//    process lacks stays missing;
//  - the share modes hold among all openers of a regular file that open it through this
//    library, in this process or another (byte-range locks far beyond any data, see
//    os/posix/file_share.h); a conflict is ERROR_SHARING_VIOLATION (32);
//  - "nul" and "nul:", in any case, name the null device /dev/null.

#ifndef WYGL_SRC_OS_FILE_H
#define WYGL_SRC_OS_FILE_H

#include <cstdint>

namespace wygl::os {

// An open file, owned by whoever opened or duplicated it.
using file_handle = void*;

// Access bits, as the desired access of CreateFileA.
inline constexpr std::uint32_t file_read_access = 0x80000000u;   // GENERIC_READ
inline constexpr std::uint32_t file_write_access = 0x40000000u;  // GENERIC_WRITE

// Share bits: what other openers of the file may do while it is open.
inline constexpr std::uint32_t file_share_read = 1;
inline constexpr std::uint32_t file_share_write = 2;

// Creation dispositions, numbered as CreateFileA's.
enum class file_creation : std::uint32_t {
  create_new = 1,         // fails with ERROR_FILE_EXISTS (80) when the name exists
  create_always = 2,      // creates, or empties an existing file
  open_existing = 3,      // fails with ERROR_FILE_NOT_FOUND (2) when the name does not exist
  open_always = 4,        // opens, creating the file when missing
  truncate_existing = 5,  // opens and empties; fails when the name does not exist
};

// Where a position is counted from, numbered as SetFilePointer's move methods.
enum class file_origin : std::uint32_t { begin = 0, current = 1, end = 2 };

enum class std_stream { input, output, error };

// The grant that files created through open_file carry: every user of the machine may do
// everything with them. On Windows a security descriptor whose access list is present but
// null; the POSIX backend creates such files with mode 0666, whatever the process's umask.
class everyone_access {
 public:
  // Prepares the grant. False, with the last error set, when the system refuses.
  bool prepare() noexcept;
  // The prepared system object (the Windows descriptor), for the backend.
  void* system_object() noexcept { return _descriptor; }

 private:
  // Room for the system's descriptor; the POSIX backend leaves it unused.
  alignas(8) unsigned char _descriptor[64];
};

// Opens name. access is a combination of the access bits, share of the share bits. A
// truncating disposition empties the file only after the share modes allowed the open. The
// handle is inheritable. With security null, a created file gets the system's default
// permissions; otherwise the prepared grant.
//
// Failures as Windows reports them: a missing file ERROR_FILE_NOT_FOUND (2), a missing folder
// on the way, an empty or null name ERROR_PATH_NOT_FOUND (3), a folder opened as a file
// ERROR_ACCESS_DENIED (5), an existing name with create_new ERROR_FILE_EXISTS (80), a share
// conflict ERROR_SHARING_VIOLATION (32).
bool open_file(char const* name, std::uint32_t access, std::uint32_t share, file_creation how,
               everyone_access* security, file_handle& opened) noexcept;

bool close_file(file_handle file) noexcept;

// A second handle on the same open file (same position, same access, same share modes held),
// owned by the caller and not inherited by child processes. ERROR_INVALID_HANDLE (6) for a
// handle that is not open.
bool duplicate_file(file_handle file, file_handle& copy) noexcept;

// One read of at most count bytes at the position; done is the number read, 0 at the end of
// the file. Reading through a handle without read access is ERROR_ACCESS_DENIED (5).
bool read_file(file_handle file, void* buffer, std::uint32_t count, std::uint32_t& done) noexcept;

// One write of count bytes at the position. done may come out smaller than count when the
// system took only part of the data (a full disk, a file size limit); writing nothing at all
// is a failure. Writing through a handle without write access is ERROR_ACCESS_DENIED (5).
bool write_file(file_handle file, void const* buffer, std::uint32_t count,
                std::uint32_t& done) noexcept;

// Moves the position by distance from origin and returns the new position, as SetFilePointer
// without its high half does. On failure it returns 0xFFFFFFFF with the last error set: a
// position before the start is ERROR_NEGATIVE_SEEK (131) and leaves the position where it
// was. A successful move to position 0xFFFFFFFF sets the last error to 0, so that the caller
// can tell the two apart.
std::uint32_t set_file_pointer(file_handle file, std::int32_t distance,
                               file_origin origin) noexcept;

// Makes the position the end of the file, cutting off or adding what lies between.
bool set_end_of_file(file_handle file) noexcept;

// Asks the system to write its caches for the file to the device. A handle without write
// access is ERROR_ACCESS_DENIED (5). Handles whose data cannot be flushed to a device (a
// console, and on POSIX systems also terminals, pipes and other special files) give
// ERROR_INVALID_HANDLE (6).
bool flush_file(file_handle file) noexcept;

// The last-write time as a Windows file time: 100-nanosecond intervals since 1 January 1601,
// UTC.
bool last_write_time(file_handle file, std::uint64_t& file_time) noexcept;

// The process's standard handle, as the process holds it: not owned by the caller, and not
// necessarily open (then duplicating it fails).
file_handle std_handle(std_stream which) noexcept;

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_FILE_H
