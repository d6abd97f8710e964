#include <wygl/qmgl_local.h>

#include "qmgl/qmgl_alloc.h"

void* qmgl_local_check_alloc(void* block) {
  return qmgl_check_alloc("src/qmgl/qmgl_local", __LINE__, block);
}

// Exported through the extern template declarations of the header, which give them WYGL_API.
template struct qmgl_local_array_of<char>;
template struct qmgl_local_array_of<unsigned char>;
