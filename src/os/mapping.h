// Named blocks of memory shared between processes (file mappings backed by no file) and the
// views that show them at an address of this process.

#ifndef WYGL_SRC_OS_MAPPING_H
#define WYGL_SRC_OS_MAPPING_H

#include <cstdint>

#include "os/kernel_object.h"

namespace wygl::os {

// Creates a named block of size bytes, filled with zeros, or finds the one that exists under
// that name (it keeps its own size). A size of 0 is refused (ERROR_INVALID_PARAMETER, 87).
creation create_mapping(char const* name, std::uint32_t size) noexcept;

// Opens the named block that exists.
handle open_mapping(char const* name) noexcept;

// Shows the first size bytes of the block, readable and writable; 0 shows the whole block.
// Returns the address, or null when the block cannot be shown (for example when it is smaller
// than size). The view stays valid after the mapping's handle is closed.
void* map_view(handle mapping, std::uint32_t size) noexcept;

// Removes a view that map_view returned.
void unmap_view(void* address) noexcept;

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_MAPPING_H
