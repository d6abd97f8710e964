// Building a string body in place, for library code that knows the size of a text before
// writing it (the conversions of qmgl_iconv):
//
//   auto* body = qmgl_ntarray_imp_of<char, 0>::create(n);   // may raise; nothing to free
//   ... write body->data[0..n], set body->length ...          // must not raise
//   return qmgl_ntarray_built<char, 0>(body);                  // bound: count 1

#ifndef WYGL_SRC_QMGL_QMGL_NTARRAY_BUILD_H
#define WYGL_SRC_QMGL_QMGL_NTARRAY_BUILD_H

#include <wygl/qmgl_ntarray.h>

template <class T, T Nul>
struct qmgl_ntarray_built : qmgl_ntarray_of<T, Nul> {
  // Binds to a body made with qmgl_ntarray_imp_of<T, Nul>::create and filled by the caller.
  explicit qmgl_ntarray_built(qmgl_ntarray_imp_of<T, Nul>* body) noexcept
      : qmgl_ntarray_of<T, Nul>(body, typename qmgl_ntarray_of<T, Nul>::bind_tag{}) {}
};

#endif  // WYGL_SRC_QMGL_QMGL_NTARRAY_BUILD_H
