// The version of the library, as its own build's wygl_version.h gives it.

#include <wygl/wygl_version.h>

char const* wygl_version() noexcept {
  return WYGL_VERSION_STRING;
}
