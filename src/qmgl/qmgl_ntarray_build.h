// Building a string body in place, for library code that knows the size of a text before
// writing it (the conversions of qmgl_iconv):
//
//   auto* body = qmgl_ntarray_imp_of<char, 0>::create(n);   // may raise; nothing to free
//   ... write body->data[0..n], set body->length ...          // must not raise
//   return qmgl_ntarray_built<char, 0>(body);                  // bound: count 1

#ifndef WYGL_SRC_QMGL_QMGL_NTARRAY_BUILD_H
#define WYGL_SRC_QMGL_QMGL_NTARRAY_BUILD_H

#include <cstddef>

#include <wygl/qmgl_ntarray.h>

template <class T, T Nul>
struct qmgl_ntarray_built : qmgl_ntarray_of<T, Nul> {
  // Binds to a body made with qmgl_ntarray_imp_of<T, Nul>::create and filled by the caller.
  explicit qmgl_ntarray_built(qmgl_ntarray_imp_of<T, Nul>* body) noexcept
      : qmgl_ntarray_of<T, Nul>(body, typename qmgl_ntarray_of<T, Nul>::bind_tag{}) {}
};

// Appends c to s with the result of s += c. When s is the only handle of its body and the
// body has room, the body is extended in place: no other handle can see the change, so the
// body still never changes for anyone who shares it. Otherwise s moves to a new body with
// room to double, so that n appends in a row cost time linear in n. Raises
// exc_not_enough_memory_t, leaving s as it was.
void qmgl_ntarray_append(qmgl_ntarray_of<char, 0>& s, char c);

// Appending a run of n characters, none of them NUL, as n qmgl_ntarray_append calls would:
// qmgl_ntarray_room gives a place for them right behind s's text, in s's own body, which it
// first moves to a new one with room to double when s shares its body or lacks the room
// (raising exc_not_enough_memory_t, with s as it was); the text is unchanged. Once at most n
// characters have been written there, qmgl_ntarray_extend(s, k) makes the first k of them part
// of the text.
char* qmgl_ntarray_room(qmgl_ntarray_of<char, 0>& s, std::size_t n);
void qmgl_ntarray_extend(qmgl_ntarray_of<char, 0>& s, std::size_t k) noexcept;

#endif  // WYGL_SRC_QMGL_QMGL_NTARRAY_BUILD_H
