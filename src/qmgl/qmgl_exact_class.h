// Recognising objects of exactly one of the library's own classes, not of a class derived
// from it, so that library code may take a faster way that is exact only for that class.
//
// The test compares the addresses of the type descriptions, which is one comparison where the
// equality of std::type_info may compare names. Classes with a virtual function defined in the
// library have one description there, which the object's virtual table names. Where a program
// ends up with a second copy of a description, the test says no, and the caller takes its
// general way: the answer is never yes for another class.

#ifndef WYGL_SRC_QMGL_QMGL_EXACT_CLASS_H
#define WYGL_SRC_QMGL_QMGL_EXACT_CLASS_H

#include <typeinfo>

// object as a T when its class is exactly T; null otherwise.
template <class T, class Base>
T* qmgl_exactly(Base& object) noexcept {
  return &typeid(object) == &typeid(T) ? &static_cast<T&>(object) : nullptr;
}

#endif  // WYGL_SRC_QMGL_QMGL_EXACT_CLASS_H
