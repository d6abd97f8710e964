#include <wygl/qmgl_env.h>

#include <cstdlib>

char const* qmgl_env_get(char const* name) noexcept {
  return name != nullptr ? std::getenv(name) : nullptr;
}
