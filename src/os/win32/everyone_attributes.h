// Security attributes that let every user of the machine use a named object: a security
// descriptor with a present but null access list, and inheritable handles.

#ifndef WYGL_SRC_OS_WIN32_EVERYONE_ATTRIBUTES_H
#define WYGL_SRC_OS_WIN32_EVERYONE_ATTRIBUTES_H

#include "os/win32/windows_api.h"

namespace wygl::os {

class everyone_attributes {
 public:
  // get() is null when the descriptor cannot be made; the last error then says why.
  everyone_attributes() noexcept;
  everyone_attributes(everyone_attributes const&) = delete;
  everyone_attributes& operator=(everyone_attributes const&) = delete;

  SECURITY_ATTRIBUTES* get() noexcept { return _ready ? &_attributes : nullptr; }

 private:
  SECURITY_DESCRIPTOR _descriptor;
  SECURITY_ATTRIBUTES _attributes;
  bool _ready;
};

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_WIN32_EVERYONE_ATTRIBUTES_H
