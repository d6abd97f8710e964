#include "os/file_names.h"

#include "os/win32/windows_api.h"

namespace wygl::os {

static_assert(move_replace_existing == MOVEFILE_REPLACE_EXISTING);
static_assert(move_copy_allowed == MOVEFILE_COPY_ALLOWED);

bool copy_file(char const* from, char const* to, bool fail_if_exists) noexcept {
  return CopyFileA(from, to, fail_if_exists ? TRUE : FALSE) != FALSE;
}

bool move_file(char const* from, char const* to, std::uint32_t flags) noexcept {
  return MoveFileExA(from, to, flags) != FALSE;
}

bool delete_file(char const* name) noexcept {
  return DeleteFileA(name) != FALSE;
}

bool file_attributes_exist(char const* name) noexcept {
  return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
}

std::uint32_t full_path_name(char const* name, std::uint32_t buffer_size, char* buffer) noexcept {
  return GetFullPathNameA(name, buffer_size, buffer, nullptr);
}

}  // namespace wygl::os
