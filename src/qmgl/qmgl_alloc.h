// The allocation check: every allocation result of the library passes through it.

#ifndef WYGL_SRC_QMGL_QMGL_ALLOC_H
#define WYGL_SRC_QMGL_QMGL_ALLOC_H

#include <wygl/qmgl_exc.h>

// Returns p when it is not null; otherwise raises exc_not_enough_memory_t with the
// allocating file and line and the message "not enough memory".
template <class T>
T* qmgl_check_alloc(char const* file, int line, T* p) {
  if (p == nullptr) throw exc_not_enough_memory_t(file, line, "not enough memory");
  return p;
}

#endif  // WYGL_SRC_QMGL_QMGL_ALLOC_H
