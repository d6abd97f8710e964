// The names of named objects in the POSIX shared-memory name space.
//
// A kernel object named N becomes the shared-memory object "/wygl.E", where E is N with every
// byte other than a letter, a digit, '-', '_' and '.' written as '%' and two upper-case hex
// digits ("a b%" is "/wygl.a%20b%25"). The name spaces "Global\" and "Local\" that Windows
// puts before a name are one here: the prefix is dropped ("Local\x" and "x" are one object).
// Any other backslash names a name space that does not exist, ERROR_PATH_NOT_FOUND (3), as on
// Windows. A translated name longer than the system allows fails where the object is opened,
// with ERROR_FILENAME_EXCED_RANGE (206).

#ifndef WYGL_SRC_OS_POSIX_OBJECT_NAME_H
#define WYGL_SRC_OS_POSIX_OBJECT_NAME_H

#include <cstdint>
#include <string>

namespace wygl::os {

// Replaces path with the shared-memory name of the object named name and returns 0, or
// returns the Windows error for a name that cannot be translated. name is neither null nor
// empty. May throw std::bad_alloc.
std::uint32_t shared_memory_name(char const* name, std::string& path);

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_POSIX_OBJECT_NAME_H
