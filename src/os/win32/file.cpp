#include "os/file.h"

#include "os/win32/windows_api.h"

namespace wygl::os {
namespace {

static_assert(file_read_access == GENERIC_READ);
static_assert(file_write_access == GENERIC_WRITE);
static_assert(file_share_read == FILE_SHARE_READ);
static_assert(file_share_write == FILE_SHARE_WRITE);
static_assert(static_cast<DWORD>(file_creation::create_new) == CREATE_NEW);
static_assert(static_cast<DWORD>(file_creation::create_always) == CREATE_ALWAYS);
static_assert(static_cast<DWORD>(file_creation::open_existing) == OPEN_EXISTING);
static_assert(static_cast<DWORD>(file_creation::open_always) == OPEN_ALWAYS);
static_assert(static_cast<DWORD>(file_creation::truncate_existing) == TRUNCATE_EXISTING);
static_assert(static_cast<DWORD>(file_origin::begin) == FILE_BEGIN);
static_assert(static_cast<DWORD>(file_origin::current) == FILE_CURRENT);
static_assert(static_cast<DWORD>(file_origin::end) == FILE_END);

}  // namespace

bool everyone_access::prepare() noexcept {
  static_assert(sizeof(SECURITY_DESCRIPTOR) <= sizeof _descriptor);
  static_assert(alignof(SECURITY_DESCRIPTOR) <= alignof(everyone_access));
  void* const descriptor = system_object();
  // A present but null access list lets everyone do everything.
  return InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) != FALSE &&
         SetSecurityDescriptorDacl(descriptor, TRUE, nullptr, FALSE) != FALSE;
}

bool open_file(char const* name, std::uint32_t access, std::uint32_t share, file_creation how,
               everyone_access* security, file_handle& opened) noexcept {
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = security != nullptr ? security->system_object() : nullptr;
  attributes.bInheritHandle = TRUE;
  HANDLE const file = CreateFileA(name, access, share, &attributes, static_cast<DWORD>(how),
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  opened = file;
  return true;
}

bool close_file(file_handle file) noexcept {
  return CloseHandle(file) != FALSE;
}

bool duplicate_file(file_handle file, file_handle& copy) noexcept {
  HANDLE const process = GetCurrentProcess();
  HANDLE duplicate = nullptr;
  if (DuplicateHandle(process, file, process, &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS) == FALSE)
    return false;
  copy = duplicate;
  return true;
}

bool read_file(file_handle file, void* buffer, std::uint32_t count, std::uint32_t& done) noexcept {
  DWORD n = 0;
  if (ReadFile(file, buffer, count, &n, nullptr) == FALSE) return false;
  done = n;
  return true;
}

bool write_file(file_handle file, void const* buffer, std::uint32_t count,
                std::uint32_t& done) noexcept {
  DWORD n = 0;
  if (WriteFile(file, buffer, count, &n, nullptr) == FALSE) return false;
  done = n;
  return true;
}

std::uint32_t set_file_pointer(file_handle file, std::int32_t distance,
                               file_origin origin) noexcept {
  return SetFilePointer(file, distance, nullptr, static_cast<DWORD>(origin));
}

bool set_end_of_file(file_handle file) noexcept {
  return SetEndOfFile(file) != FALSE;
}

bool flush_file(file_handle file) noexcept {
  return FlushFileBuffers(file) != FALSE;
}

bool last_write_time(file_handle file, std::uint64_t& file_time) noexcept {
  FILETIME written{};
  if (GetFileTime(file, nullptr, nullptr, &written) == FALSE) return false;
  file_time = (static_cast<std::uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
  return true;
}

file_handle std_handle(std_stream which) noexcept {
  switch (which) {
    case std_stream::input:
      return GetStdHandle(STD_INPUT_HANDLE);
    case std_stream::output:
      return GetStdHandle(STD_OUTPUT_HANDLE);
    case std_stream::error:
      break;
  }
  return GetStdHandle(STD_ERROR_HANDLE);
}

}  // namespace wygl::os
