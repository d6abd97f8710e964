#include "os/win32/everyone_attributes.h"

namespace wygl::os {

everyone_attributes::everyone_attributes() noexcept : _descriptor{}, _attributes{}, _ready(false) {
  if (!InitializeSecurityDescriptor(&_descriptor, SECURITY_DESCRIPTOR_REVISION)) return;
  if (!SetSecurityDescriptorDacl(&_descriptor, TRUE, nullptr, FALSE)) return;
  _attributes.nLength = sizeof _attributes;
  _attributes.lpSecurityDescriptor = &_descriptor;
  _attributes.bInheritHandle = TRUE;
  _ready = true;
}

}  // namespace wygl::os
