// Operations on file names: copy, move, delete, test for existence, and the full path.
//
// As in os/file.h, each keeps the results of the Windows call it stands for (CopyFileA,
// MoveFileExA, DeleteFileA, GetFileAttributesA, GetFullPathNameA), reports failure through
// the calling thread's last error in Windows numbering, and never throws. Common failures: a
// missing file ERROR_FILE_NOT_FOUND (2); a missing folder on the way, a path through a file,
// an empty or null name ERROR_PATH_NOT_FOUND (3); a folder where a file is needed
// ERROR_ACCESS_DENIED (5).

#ifndef WYGL_SRC_OS_FILE_NAMES_H
#define WYGL_SRC_OS_FILE_NAMES_H

#include <cstdint>

namespace wygl::os {

// Copies the contents of from to to, which keeps from's last-write time. With fail_if_exists
// an existing to is ERROR_FILE_EXISTS (80); otherwise it is overwritten. The copy opens both
// files with share modes (from shared for reading only, to not shared), so that copying onto
// the source, or onto a file another opener holds, is ERROR_SHARING_VIOLATION (32).
bool copy_file(char const* from, char const* to, bool fail_if_exists) noexcept;

// Flags of move_file, as MoveFileExA's.
inline constexpr std::uint32_t move_replace_existing = 1;
inline constexpr std::uint32_t move_copy_allowed = 2;

// Renames from to to. A file that an opener holds (open_file, any share mode) cannot move:
// ERROR_SHARING_VIOLATION (32). Without move_replace_existing an existing to is
// ERROR_ALREADY_EXISTS (183); with it a file to is replaced in the same step, and a folder to,
// or a file that an opener holds, is ERROR_ACCESS_DENIED (5). With move_copy_allowed a file may
// move to another volume (copied, then deleted; a copy that replaces to is completed under
// another name first). Renaming a name onto itself succeeds and changes nothing.
bool move_file(char const* from, char const* to, std::uint32_t flags) noexcept;

// Deletes the file name. A folder is ERROR_ACCESS_DENIED (5); a file that an opener holds
// ERROR_SHARING_VIOLATION (32).
bool delete_file(char const* name) noexcept;

// Whether the system can read the attributes of name, a file or a folder. False with the last
// error set otherwise; the missing-file and missing-path cases give 2 and 3, a component too
// long for the system ERROR_FILENAME_EXCED_RANGE (206).
bool file_attributes_exist(char const* name) noexcept;

// The full path of name, as GetFullPathNameA gives it: when it fits in buffer_size characters
// with its terminating NUL, it is copied to buffer and its length without the NUL is returned;
// otherwise buffer is left alone and the size needed, NUL included, is returned. An empty or
// null name gives 0 and leaves the last error as it was, as Windows does. The POSIX backend
// builds the path lexically: the current folder before a relative name, "." and ".." and
// repeated separators resolved, symbolic links left as they are.
std::uint32_t full_path_name(char const* name, std::uint32_t buffer_size, char* buffer) noexcept;

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_FILE_NAMES_H
