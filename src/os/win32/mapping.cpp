#include "os/mapping.h"

#include "os/win32/everyone_attributes.h"
#include "os/win32/windows_api.h"

namespace wygl::os {

creation create_mapping(char const* name, std::uint32_t size) noexcept {
  everyone_attributes attributes;
  if (attributes.get() == nullptr) return {nullptr, false};
  SetLastError(ERROR_SUCCESS);
  HANDLE const mapping =
      CreateFileMappingA(INVALID_HANDLE_VALUE, attributes.get(), PAGE_READWRITE, 0, size, name);
  return {mapping, mapping != nullptr && GetLastError() == ERROR_ALREADY_EXISTS};
}

handle open_mapping(char const* name) noexcept {
  return OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
}

void* map_view(handle mapping, std::uint32_t size) noexcept {
  return MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
}

void unmap_view(void* address) noexcept {
  UnmapViewOfFile(address);
}

}  // namespace wygl::os
