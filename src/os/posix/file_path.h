// Names as the POSIX backend's file calls see them, and the Windows errors they give.

#ifndef WYGL_SRC_OS_POSIX_FILE_PATH_H
#define WYGL_SRC_OS_POSIX_FILE_PATH_H

#include <cstdint>
#include <string>

namespace wygl::os::posix {

// The path to hand to the system for a Windows file name: "nul" and "nul:", in any case, are
// the null device /dev/null; every other name is itself. name must not be null.
char const* host_path(char const* name) noexcept;

// The Windows number for a call on path that failed with errno_value. A missing name is
// ERROR_FILE_NOT_FOUND (2) when the folder that would hold it exists, and
// ERROR_PATH_NOT_FOUND (3) when that folder is missing too, as Windows tells the two apart;
// other values go through the file map of os/posix/errno_map.h.
std::uint32_t error_for_path(int errno_value, char const* path) noexcept;

// The absolute form of path, built from the text alone: the current folder before a relative
// path; empty, "." and ".." components resolved (".." at the root stays at the root); a
// trailing separator kept. Symbolic links are not followed. False, with the last error set,
// when the current folder cannot be read. May throw std::bad_alloc.
bool lexical_full_path(char const* path, std::string& full);

}  // namespace wygl::os::posix

#endif  // WYGL_SRC_OS_POSIX_FILE_PATH_H
