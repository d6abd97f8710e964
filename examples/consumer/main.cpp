// A program that uses an installed wygl, as README.md ("Using it") shows: it raises one of
// the library's exceptions, catches it by its family, and prints what it caught. CI builds it
// against a fresh installation, once with CMake and once with pkg-config.

#include <cstdio>

#include <wygl/wygl.h>

int main() {
  try {
    throw exc_timeout_t("src/app/poll", __LINE__, "exc_timeout");
  } catch (exc_timing_t const& e) {
    std::printf("wygl %s: caught %s, code 0x%08lx\n", wygl_version(), e.message, e.code);
  }
  return 0;
}
